#pragma once

#include "cli/clicommand.h"

namespace EMS {
class SlotController;
}

namespace Cli {

class CardWaiter;

// `set --slot N sync-source auto|word-clock|madi-a|madi-b` and
// `set --slot N madi-tx A|B auto|57|64`: the commands the slot's panels send, then a
// wait until the card reports the new setting back. The window shows only what the
// card reports; so does the exit status.
class SetCommand : public CliCommand
{
    Q_OBJECT

public:
    using CliCommand::CliCommand;
    void start() override;

protected:
    void expired() override;

private:
    void send();
    void checkSyncSource();
    void checkTransmitMode(int madiPort, int mode, bool trackReceived);

    enum Setting { SyncSource, MadiTransmit };
    Setting setting = SyncSource;
    int syncCode = 0;
    int madiPort = 0;
    int transmitMode = 0;
    bool sent = false;
    EMS::SlotController *slot = nullptr;
    CardWaiter *waiter = nullptr;
};

} // namespace Cli
