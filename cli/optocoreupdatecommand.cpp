#include "cli/optocoreupdatecommand.h"

#include "cli/cardwaiter.h"
#include "cli/progressprinter.h"
#include "remote/slotreport.h"
#include "slot/slotcontroller.h"
#include "update/optocoreupdatejob.h"
#include "update/optocoreupdater.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace Cli {

using namespace EMS;

namespace {

// The module pads its version, and build.txt its first 64 bytes, with zero bytes.
QString textUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? bytes : bytes.left(zero));
}

} // namespace

OptocoreUpdateCommand::OptocoreUpdateCommand(const CommandContext &context, QObject *parent)
    : CliCommand(context, parent)
{
}

OptocoreUpdateCommand::~OptocoreUpdateCommand() = default;

QString OptocoreUpdateCommand::folderProblem(const OptocoreUpdater &updater)
{
    // Without build.txt the module would be sent an all-zero description.
    if (!QFile::exists(updater.buildInfoFile()))
        return tr("%1 file not found").arg(QFileInfo(updater.buildInfoFile()).fileName());
    QString problem = OptocoreUpdater::fileProblem(updater.firstFile());
    if (problem.isEmpty())
        problem = OptocoreUpdater::fileProblem(updater.secondFile());
    return problem;
}

void OptocoreUpdateCommand::start()
{
    const int index = requiredSlot();
    if (index < 0)
        return;
    const QString given = context.parser->value(QStringLiteral("optocore"));
    if (!QFileInfo(given).isDir()) {
        fail(tr("%1 is not a folder; --optocore takes the folder with build.txt, udi71221.bin and pdi71221.sop")
                 .arg(given));
        return;
    }
    folder = QDir(given).absolutePath();
    updater = new OptocoreUpdater(this, folder);
    // The files are checked before any card is reached: a wrong folder is the script's
    // mistake, not the card's.
    const QString problem = folderProblem(*updater);
    if (!problem.isEmpty()) {
        fail(tr("cannot update the Optocore module from %1: %2").arg(folder, problem));
        return;
    }
    build = textUpToZero(OptocoreUpdater::readBuildInfo(updater->buildInfoFile()));

    slot = openSlot(index);
    waiter = new CardWaiter(slot, this);
    connect(waiter, &CardWaiter::cardReady, this, &OptocoreUpdateCommand::cardReady);
    armDeadline(context.timeoutMs);
}

void OptocoreUpdateCommand::cardReady()
{
    if (phase != WaitingForCard || hasFinished())
        return;
    if (slot->cardType() != KipPort::Optocore) {
        fail(tr("%1: the card is a %2 card, not an Optocore card; --optocore updates an Optocore card's module")
                 .arg(slotName(), SlotController::cardDisplayName(slot->cardType())));
        return;
    }
    // Wired to the card port as the Optocore page wires its updater.
    KipPort *port = slot->cardPort();
    connect(updater, &OptocoreUpdater::sendMessage, port, &KipPort::sendMessage);
    connect(port, &KipPort::optocoreUpdateMessage, updater, &OptocoreUpdater::receiveMessage);
    connect(updater, &OptocoreUpdater::versionString, this,
            [this](QByteArray &version) { versionReceived(version); });
    connect(updater, &OptocoreUpdater::exitLoaderAcknowledge, this, &OptocoreUpdateCommand::loaderLeft);
    // A refused "leave the loader" comes only as a message: after a failure, that is
    // the module's last word.
    connect(updater, &OptocoreUpdater::statusMessage, this, [this](const QString &text) {
        if (phase == LeavingLoader || phase == LeavingAfterFailure)
            failureText = failureText.isEmpty() ? text : failureText;
        if (phase == LeavingAfterFailure)
            fail(failureText);
    });
    phase = AskingVersion;
    updater->requestVersion();
}

void OptocoreUpdateCommand::versionReceived(const QByteArray &version)
{
    const QString text = textUpToZero(version);
    switch (phase) {
    case AskingVersion:
        printLine(tr("%1: Optocore card, module version %2").arg(slotName(), text));
        startJob();
        break;
    case AfterUpdate:
        // The page's order after a success: the version the updater asks for, then
        // the loader told to exit.
        phase = LeavingLoader;
        updater->exitLoader();
        break;
    case Confirming:
        printLine(tr("%1: update done, the Optocore module reports %2").arg(slotName(), text));
        succeed();
        break;
    default:
        break;
    }
}

void OptocoreUpdateCommand::startJob()
{
    phase = Updating;
    // From here the slot's watchdog bounds the wait, as it does for the window's update.
    deadlineTimer()->stop();
    progress = std::make_unique<ProgressPrinter>(*context.out, slotName(), ProgressPrinter::stdoutIsTerminal());
    job = new OptocoreUpdateJob(updater, this);
    connect(job, &UpdateJob::progressChanged, slot, &SlotController::receiveUpdateProgress);
    connect(slot, &SlotController::updateProgressChanged, this, [this](int percent) {
        if (phase == Updating)
            progress->show(percent);
    });
    connect(slot, &SlotController::updateAbandoned, this, [this] {
        if (phase != Updating)
            return;
        failureText = tr("no progress from the Optocore module; the update was given up");
        // The job stops the transfer and tells the module's loader to exit.
        job->cancel();
    });
    connect(job, &UpdateJob::finished, this, &OptocoreUpdateCommand::jobEnded);
    printLine(tr("%1: updating the Optocore module to %2 from %3").arg(slotName(), build, folder));
    slot->optocoreUpdating(true);
    job->start();
}

void OptocoreUpdateCommand::jobEnded(const UpdateResult &result)
{
    if (phase != Updating)
        return;
    if (progress)
        progress->finish();
    slot->optocoreUpdating(false);
    armDeadline(context.timeoutMs);
    if (result.outcome == UpdateResult::Outcome::Cancelled) {
        fail(tr("%1: Optocore update failed: %2").arg(slotName(), failureText));
        return;
    }
    if (!result.succeeded()) {
        failureText = tr("%1: Optocore update failed: %2")
                          .arg(slotName(), result.text.isEmpty() ? tr("no reason given") : result.text);
        // As the page does after a failure: the module goes back to its old firmware.
        // The run ends when it has said so, or at the deadline.
        phase = LeavingAfterFailure;
        updater->exitLoader();
        return;
    }
    printLine(tr("%1: Optocore updated successfully").arg(slotName()));
    // The updater has asked for the version already.
    phase = AfterUpdate;
}

void OptocoreUpdateCommand::loaderLeft()
{
    if (phase == LeavingAfterFailure) {
        fail(failureText);
        return;
    }
    if (phase != LeavingLoader)
        return;
    // Out of its loader the module runs the new firmware; its version now is the one
    // that counts.
    phase = Confirming;
    updater->requestVersion();
}

QString OptocoreUpdateCommand::slotName() const
{
    return SlotReport::slotName(slot->slotIndex());
}

void OptocoreUpdateCommand::expired()
{
    switch (phase) {
    case WaitingForCard:
        fail(waiter->whyNotReady());
        break;
    case AskingVersion:
        fail(tr("%1: the Optocore module did not answer the version request within %2 s")
                 .arg(slotName())
                 .arg(context.timeoutMs / 1000.0));
        break;
    case LeavingAfterFailure:
        fail(failureText);
        break;
    default:
        fail(tr("%1: the Optocore update ended, but within %2 s the module did not %3")
                 .arg(slotName())
                 .arg(context.timeoutMs / 1000.0)
                 .arg(phase == LeavingLoader && !failureText.isEmpty()
                          ? tr("leave its loader (%1)").arg(failureText)
                          : tr("report its version after leaving its loader")));
        break;
    }
}

} // namespace Cli
