#include "cli/clicommand.h"

#include "remote/remoteoptions.h"
#include "slot/slotcontroller.h"

#include <QCommandLineParser>
#include <QTimer>

namespace Cli {

CliCommand::CliCommand(const CommandContext &context, QObject *parent)
    : QObject(parent), context(context), deadline(new QTimer(this))
{
    deadline->setObjectName(QStringLiteral("deadline"));
    deadline->setTimerType(Qt::PreciseTimer);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, &CliCommand::expired);
}

EMS::SlotController *CliCommand::openSlot(int slotIndex)
{
    auto *slot = new EMS::SlotController(slotIndex, this);
    EMS::RemoteOptions::applyPorts(*context.parser, slotIndex == 0 ? slot : nullptr, slotIndex == 1 ? slot : nullptr);
    slot->scanPorts();
    return slot;
}

int CliCommand::requiredSlot()
{
    const QString text = context.parser->value(QStringLiteral("slot"));
    if (text == QLatin1String("1") || text == QLatin1String("2"))
        return text.toInt() - 1;
    fail(text.isEmpty() ? tr("--slot 1 or --slot 2 is needed") : tr("--slot must be 1 or 2, not %1").arg(text),
         UsageError);
    return -1;
}

QList<int> CliCommand::chosenSlots()
{
    if (!context.parser->isSet(QStringLiteral("slot")))
        return {0, 1};
    const int index = requiredSlot();
    return index < 0 ? QList<int>() : QList<int>{index};
}

void CliCommand::printLine(const QString &line)
{
    *context.out << line << '\n';
    context.out->flush();
}

void CliCommand::printError(const QString &line)
{
    *context.err << line << '\n';
    context.err->flush();
}

void CliCommand::armDeadline(int milliseconds)
{
    deadline->start(milliseconds);
}

void CliCommand::expired()
{
    fail(tr("no answer within %1 s").arg(context.timeoutMs / 1000.0));
}

void CliCommand::succeed()
{
    if (done)
        return;
    done = true;
    deadline->stop();
    emit finished(Success);
}

void CliCommand::fail(const QString &message, int exitCode)
{
    if (done)
        return;
    done = true;
    deadline->stop();
    printError(QStringLiteral("sablefold-cli: ") + message);
    emit finished(exitCode);
}

} // namespace Cli
