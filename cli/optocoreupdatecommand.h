#pragma once

#include "cli/clicommand.h"
#include "link/updatejob.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace EMS {
class OptocoreUpdater;
class OptocoreUpdateJob;
class SlotController;
}

namespace Cli {

class CardWaiter;
class ProgressPrinter;

// `update --slot N --optocore DIR`: loads the Optocore network module of an Optocore
// card with the build description and the two files in DIR, talking to the module as
// the window's Optocore update page does: its version first, then the update job under
// the slot's watchdog, then, as the page does after a success, the version again and
// the loader told to exit. The page compares no versions; this run succeeds when the
// job succeeded and the module, out of its loader, answers a last version request,
// whose answer it prints.
class OptocoreUpdateCommand : public CliCommand
{
    Q_OBJECT

public:
    OptocoreUpdateCommand(const CommandContext &context, QObject *parent);
    ~OptocoreUpdateCommand() override;
    void start() override;

    // Why the files in this folder cannot be loaded, or empty when they can: the checks
    // the Optocore page makes before an update, in the same order.
    static QString folderProblem(const EMS::OptocoreUpdater &updater);

protected:
    void expired() override;

private:
    enum Phase { WaitingForCard, AskingVersion, Updating, AfterUpdate, LeavingLoader, Confirming, LeavingAfterFailure };

    void cardReady();
    void versionReceived(const QByteArray &version);
    void startJob();
    void jobEnded(const EMS::UpdateResult &result);
    void loaderLeft();
    QString slotName() const;

    Phase phase = WaitingForCard;
    QString folder;
    QString build;
    EMS::SlotController *slot = nullptr;
    CardWaiter *waiter = nullptr;
    EMS::OptocoreUpdater *updater = nullptr;
    EMS::OptocoreUpdateJob *job = nullptr;
    std::unique_ptr<ProgressPrinter> progress;
    QString failureText;
};

} // namespace Cli
