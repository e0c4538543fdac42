#pragma once

#include <QDateTime>

#include <functional>

namespace sw {

// The one "now" of the program. Every decision that depends on the time of day asks
// this function, so tests can move the clock without waiting for it.
QDateTime now();

// Replaces the clock; an empty function restores the system clock.
void setClock(std::function<QDateTime()> clock);

} // namespace sw
