#pragma once

#include <QObject>
#include <QString>
#include <QTextStream>

class QCommandLineParser;
class QTimer;

namespace EMS {
class SlotController;
}

namespace Cli {

// What every command gets from the command line.
struct CommandContext
{
    const QCommandLineParser *parser = nullptr;
    QStringList arguments; // the positional arguments after the command's name
    int timeoutMs = 10000;
    bool json = false;
    QTextStream *out = nullptr; // results
    QTextStream *err = nullptr; // messages and failures
};

// One run of one command: started once, ends once with finished(exitCode). Every wait
// is bounded by the deadline (--timeout), so a missing adapter, a silent card or a
// vanished port ends the run with a message instead of a hang.
class CliCommand : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

    CliCommand(const CommandContext &context, QObject *parent);

    virtual void start() = 0;
    bool hasFinished() const { return done; }
    QTimer *deadlineTimer() const { return deadline; }

signals:
    void finished(int exitCode);

protected:
    // A slot of the box as the window runs it, on the device named by --port1/--port2
    // or on the adapter its position gives it; scanning starts at once.
    EMS::SlotController *openSlot(int slotIndex);
    // --slot 1|2 as a slot index; -1 (with a message) when missing or wrong.
    int requiredSlot();
    // Both slots, or the one --slot names; empty (with a message) when --slot is wrong.
    QList<int> chosenSlots();

    void printLine(const QString &line);
    void printError(const QString &line);
    // Restarts the deadline; expired() is called when it passes.
    void armDeadline(int milliseconds);
    virtual void expired();

    void succeed();
    void fail(const QString &message, int exitCode = Failure);

    CommandContext context;

private:
    QTimer *deadline;
    bool done = false;
};

} // namespace Cli
