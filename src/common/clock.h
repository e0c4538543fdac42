#pragma once

#include <QDateTime>

#include <functional>

namespace sw {

// The one "now" of the program: the site's time (as the site clock estimates it), in
// Japan time. Every decision that depends on the time of day asks this function, so tests
// can move the clock without waiting for it.
QDateTime now();
// The same, in milliseconds since the epoch.
qint64 nowMs();

// Replaces the clock; an empty function restores the site clock.
void setClock(std::function<QDateTime()> clock);

} // namespace sw
