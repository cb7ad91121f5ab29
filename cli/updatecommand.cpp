#include "cli/updatecommand.h"

#include "cli/cardwaiter.h"
#include "cli/progressprinter.h"
#include "remote/slotreport.h"
#include "slot/slotcontroller.h"
#include "update/kipupgrader.h"

#include <QCommandLineParser>
#include <QFile>

namespace Cli {

using namespace EMS;

UpdateCommand::UpdateCommand(const CommandContext &context, QObject *parent)
    : CliCommand(context, parent)
{
}

UpdateCommand::~UpdateCommand() = default;

void UpdateCommand::start()
{
    const int index = requiredSlot();
    if (index < 0)
        return;
    const QCommandLineParser &parser = *context.parser;
    const int chosen = int(parser.isSet(QStringLiteral("code"))) + int(parser.isSet(QStringLiteral("fpga")))
                       + int(parser.isSet(QStringLiteral("all"))) + int(parser.isSet(QStringLiteral("optocore")));
    if (chosen != 1) {
        fail(tr("update takes exactly one of --code FILE, --fpga FILE, --all, --optocore DIR"), UsageError);
        return;
    }
    if (parser.isSet(QStringLiteral("code"))) {
        kind = Code;
        filePath = parser.value(QStringLiteral("code"));
    } else if (parser.isSet(QStringLiteral("fpga"))) {
        kind = Fpga;
        filePath = parser.value(QStringLiteral("fpga"));
    } else {
        kind = AsRequired;
    }
    if (kind != AsRequired && !readFileVersion())
        return;

    slot = openSlot(index);
    waiter = new CardWaiter(slot, this);
    connect(waiter, &CardWaiter::cardReady, this, &UpdateCommand::startUpdate);
    connect(slot, &SlotController::statusMessage, this, [this](const QString &message) {
        if (phase != Updating)
            return;
        messages << message;
        if (progress && !context.json)
            progress->message(message);
    });
    armDeadline(context.timeoutMs);
}

bool UpdateCommand::readFileVersion()
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(tr("cannot read %1: %2").arg(filePath, file.errorString()));
        return false;
    }
    const QByteArray contents = file.readAll();
    if (contents.isEmpty()) {
        fail(tr("%1 is empty").arg(filePath));
        return false;
    }
    // Without a version mark there is nothing to check the card's answer against.
    if (kind == Code) {
        expectedCode = KipUpgrader::codeVersionOf(contents);
        if (expectedCode == 0) {
            fail(tr("%1 carries no code version mark").arg(filePath));
            return false;
        }
    } else {
        expectedFpga = KipUpgrader::fpgaVersionOf(contents);
        if (expectedFpga.isEmpty()) {
            fail(tr("%1 carries no FPGA version mark").arg(filePath));
            return false;
        }
    }
    return true;
}

void UpdateCommand::startUpdate()
{
    if (phase != WaitingForCard || hasFinished())
        return;
    const QString name = SlotReport::slotName(slot->slotIndex());
    KipUpgrader *upgrader = slot->upgrader();
    if (kind == AsRequired) {
        if (upgrader->codeFilePath().isEmpty() && upgrader->fpgaFilePath().isEmpty()) {
            fail(tr("%1: no firmware files for a %2 card (looked for %3 and %4)")
                     .arg(name, SlotController::cardDisplayName(slot->cardType()),
                          KipUpgrader::codeFileName(slot->cardType()), KipUpgrader::fpgaFileName(slot->cardType())));
            return;
        }
        if (!upgrader->updateRecommended()) {
            printLine(tr("%1: no update required (%2)").arg(name, reportedVersions()));
            succeed();
            return;
        }
    }

    phase = Updating;
    // From here the slot's own watchdog bounds the wait: it fails an update that stalls.
    deadlineTimer()->stop();
    progress = std::make_unique<ProgressPrinter>(*context.out, name, ProgressPrinter::stdoutIsTerminal());
    connect(slot, &SlotController::updateProgressChanged, this, [this](int percent) { progress->show(percent); });
    connect(upgrader, &KipUpgrader::updateFinished, this, &UpdateCommand::updateEnded);
    connect(slot, &SlotController::updateAbandoned, this, [this] {
        messages << tr("no progress from the card; the update was given up");
        updateEnded(false);
    });
    printLine(tr("%1: %2 card, %3").arg(name, SlotController::cardDisplayName(slot->cardType()), reportedVersions()));
    switch (kind) {
    case Code:
        printLine(tr("%1: updating code to version %2 from %3").arg(name).arg(expectedCode).arg(filePath));
        slot->updateCodeFrom(filePath);
        break;
    case Fpga:
        printLine(tr("%1: updating FPGA to %2 from %3").arg(name, expectedFpga, filePath));
        slot->updateFpgaFrom(filePath);
        break;
    case AsRequired:
        printLine(tr("%1: updating as required to code %2, FPGA %3")
                      .arg(name).arg(upgrader->codeVersion()).arg(upgrader->fpgaVersion()));
        slot->updateAsRequired();
        break;
    }
}

void UpdateCommand::updateEnded(bool success)
{
    if (phase != Updating)
        return;
    if (progress)
        progress->finish();
    if (!success) {
        QStringList reasons = messages;
        reasons.removeAll(QStringLiteral("update failed"));
        reasons.removeDuplicates();
        fail(tr("%1: update failed: %2")
                 .arg(SlotReport::slotName(slot->slotIndex()),
                      reasons.isEmpty() ? tr("no reason given") : reasons.join(QStringLiteral("; "))));
        return;
    }
    phase = Confirming;
    connect(slot, &SlotController::hardwareStatusShown, this, &UpdateCommand::checkVersions);
    armDeadline(context.timeoutMs);
    checkVersions();
}

void UpdateCommand::checkVersions()
{
    if (phase != Confirming || slot->cardType() == KipPort::NoCard)
        return;
    bool done = false;
    switch (kind) {
    case Code: done = slot->firmwareVersion() == expectedCode; break;
    case Fpga: done = slot->fpgaVersion() == expectedFpga; break;
    case AsRequired: done = !slot->upgrader()->updateRecommended(); break;
    }
    if (!done)
        return;
    printLine(tr("%1: update done, the card reports %2").arg(SlotReport::slotName(slot->slotIndex()), reportedVersions()));
    succeed();
}

QString UpdateCommand::reportedVersions() const
{
    return tr("code %1, FPGA %2").arg(slot->firmwareVersion()).arg(slot->fpgaVersion());
}

void UpdateCommand::expired()
{
    if (phase == WaitingForCard) {
        fail(waiter->whyNotReady());
        return;
    }
    QString wanted;
    switch (kind) {
    case Code: wanted = tr("code %1").arg(expectedCode); break;
    case Fpga: wanted = tr("FPGA %1").arg(expectedFpga); break;
    case AsRequired: wanted = tr("code %1, FPGA %2").arg(slot->upgrader()->codeVersion()).arg(slot->upgrader()->fpgaVersion()); break;
    }
    fail(tr("%1: the update ended, but within %2 s the card did not report %3 (it reports %4)")
             .arg(SlotReport::slotName(slot->slotIndex()))
             .arg(context.timeoutMs / 1000.0)
             .arg(wanted, slot->cardType() == KipPort::NoCard ? tr("no card") : reportedVersions()));
}

} // namespace Cli
