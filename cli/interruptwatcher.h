#pragma once

#include <QObject>

namespace Cli {

// Turns Ctrl-C (SIGINT) and SIGTERM into a signal on the event loop, so a command that
// runs until stopped ends its output and exits cleanly. On systems without POSIX
// signals the process ends the system's way instead.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);

signals:
    void interrupted();
};

} // namespace Cli
