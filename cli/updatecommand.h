#pragma once

#include "cli/clicommand.h"

#include <QStringList>

#include <memory>

namespace EMS {
class SlotController;
}

namespace Cli {

class CardWaiter;
class ProgressPrinter;

// `update --slot N (--code FILE | --fpga FILE | --all)`: one update of one slot, run by
// the slot controller as the window runs it (its watchdog ends a stalled update). It
// succeeds only when the card, back from the update, reports the version the file
// carries: an update the card did not take is no success, whatever the flow said.
// `--optocore DIR` alone is OptocoreUpdateCommand's; with another choice it is refused here.
class UpdateCommand : public CliCommand
{
    Q_OBJECT

public:
    UpdateCommand(const CommandContext &context, QObject *parent);
    ~UpdateCommand() override;
    void start() override;

protected:
    void expired() override;

private:
    enum Kind { Code, Fpga, AsRequired };
    enum Phase { WaitingForCard, Updating, Confirming };

    bool readFileVersion();
    void startUpdate();
    void updateEnded(bool success);
    void checkVersions();
    QString reportedVersions() const;

    Kind kind = Code;
    Phase phase = WaitingForCard;
    QString filePath;
    int expectedCode = 0;
    QString expectedFpga;
    EMS::SlotController *slot = nullptr;
    CardWaiter *waiter = nullptr;
    std::unique_ptr<ProgressPrinter> progress;
    // What the card port said while the update ran: on failure, the reason is in there.
    QStringList messages;
};

} // namespace Cli
