#pragma once

#include <functional>

class QObject;

namespace sw {

// Runs `ending` in the event loop when the program is asked to end by a signal: SIGTERM
// (a logout, a shutdown, systemctl stop) or SIGINT (Ctrl+C in a terminal). Set up once per
// program; false when the signals could not be taken.
bool onTermination(QObject *parent, std::function<void()> ending);

} // namespace sw
