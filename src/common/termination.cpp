#include "termination.h"

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace sw {

namespace {
int g_signalPipe[2] = {-1, -1};

// A signal handler may only write: the event loop reads the byte and does the work.
void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
} // namespace

bool onTermination(QObject *parent, std::function<void()> ending)
{
    if (g_signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent,
                     [ending = std::move(ending), notifier] {
                         char c = 0;
                         [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
                         // A second signal while ending changes nothing.
                         notifier->setEnabled(false);
                         ending();
                     });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    return true;
}

} // namespace sw
