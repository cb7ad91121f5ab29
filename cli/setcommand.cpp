#include "cli/setcommand.h"

#include "cli/cardwaiter.h"
#include "remote/slotcommands.h"
#include "remote/slotreport.h"
#include "slot/slotcontroller.h"

namespace Cli {

using namespace EMS;

void SetCommand::start()
{
    const int index = requiredSlot();
    if (index < 0)
        return;
    const QStringList &args = context.arguments;
    if (args.size() == 2 && args.at(0) == QLatin1String("sync-source")) {
        setting = SyncSource;
        if (!SlotCommands::syncSourceCode(args.at(1), &syncCode)) {
            fail(tr("sync source must be auto, word-clock, madi-a or madi-b, not %1").arg(args.at(1)), UsageError);
            return;
        }
    } else if (args.size() == 3 && args.at(0) == QLatin1String("madi-tx")) {
        setting = MadiTransmit;
        if (!SlotCommands::madiPortOf(args.at(1), &madiPort)) {
            fail(tr("MADI port must be A or B, not %1").arg(args.at(1)), UsageError);
            return;
        }
        if (!SlotCommands::transmitModeCode(args.at(2), &transmitMode)) {
            fail(tr("transmit mode must be auto, 57 or 64, not %1").arg(args.at(2)), UsageError);
            return;
        }
    } else {
        fail(tr("set takes sync-source SOURCE or madi-tx A|B MODE"), UsageError);
        return;
    }

    slot = openSlot(index);
    waiter = new CardWaiter(slot, this);
    connect(waiter, &CardWaiter::cardReady, this, &SetCommand::send);
    armDeadline(context.timeoutMs);
}

void SetCommand::send()
{
    if (sent || hasFinished())
        return;
    sent = true;
    KipPort *port = slot->cardPort();
    if (setting == SyncSource) {
        connect(slot, &SlotController::syncSourceChanged, this, &SetCommand::checkSyncSource);
        port->sendSyncSource(static_cast<signed char>(syncCode));
    } else {
        if (!KipPort::isDualMadi(slot->cardType())) {
            fail(tr("%1 holds a %2 card, which has no MADI ports")
                     .arg(SlotReport::slotName(slot->slotIndex()), SlotController::cardDisplayName(slot->cardType())));
            return;
        }
        connect(port, &KipPort::madiTransmitModeChanged, this, &SetCommand::checkTransmitMode);
        SlotCommands::sendMadiTransmitMode(port, madiPort, transmitMode);
    }
    // A card already set this way reports no change: its full status says so.
    port->requestCardStatus();
    armDeadline(context.timeoutMs);
}

void SetCommand::checkSyncSource()
{
    if (hasFinished() || !SlotCommands::reportsSyncSource(*slot, syncCode))
        return;
    printLine(tr("%1 sync source %2%3")
                  .arg(SlotReport::slotName(slot->slotIndex()), slot->syncSource().toUpper(),
                       slot->isSyncAuto() ? tr(" (auto)") : QString()));
    succeed();
}

void SetCommand::checkTransmitMode(int reportedPort, int mode, bool trackReceived)
{
    if (hasFinished() || reportedPort != madiPort || !SlotCommands::reportsTransmitMode(transmitMode, mode, trackReceived))
        return;
    printLine(tr("%1 MADI %2 transmits %3")
                  .arg(SlotReport::slotName(slot->slotIndex()), QChar(QLatin1Char('A').unicode() + madiPort))
                  .arg(trackReceived ? tr("as received (auto)") : tr("%1 channels").arg(mode)));
    succeed();
}

void SetCommand::expired()
{
    if (!sent) {
        fail(waiter->whyNotReady());
        return;
    }
    if (setting == SyncSource)
        fail(tr("the card did not take the change: it reports sync source %1%2")
                 .arg(slot->syncSource().isEmpty() ? tr("(none)") : slot->syncSource().toUpper(),
                      slot->isSyncAuto() ? tr(" (auto)") : QString()));
    else
        fail(tr("the card did not report MADI %1 transmitting that way").arg(QChar(QLatin1Char('A').unicode() + madiPort)));
}

} // namespace Cli
