#include "cli/interruptwatcher.h"

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int interruptPipe[2] = {-1, -1};

void onInterrupt(int)
{
    // Only async-signal-safe work here; the event loop does the rest.
    const char byte = 1;
    ssize_t ignored = ::write(interruptPipe[1], &byte, 1);
    (void)ignored;
}
} // namespace
#endif

namespace Cli {

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (interruptPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, interruptPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        ssize_t ignored = ::read(interruptPipe[0], &byte, 1);
        (void)ignored;
        emit interrupted();
    });
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
#endif
}

} // namespace Cli
