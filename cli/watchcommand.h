#pragma once

#include "cli/clicommand.h"

#include <QList>

namespace EMS {
class EventHistory;
class RemoteBridge;
class SlotController;
struct SlotEvent;
}

namespace Cli {

class CardWaiter;

// `watch`: the slots' event history as it happens, one line (or one JSON object) per
// event, until Ctrl-C or --duration. With --osc-out / --osc-in it is also the headless
// OSC bridge: the slots' state and events go out, commands come in. It fails only when
// no slot has an adapter by the deadline: a card may come and go while it watches.
class WatchCommand : public CliCommand
{
    Q_OBJECT

public:
    using CliCommand::CliCommand;
    void start() override;

    // "2026-12-06 21:50:12.345 KIP 1 warning clock: MADI A lost lock" (local time).
    static QString eventLine(const EMS::SlotEvent &event);

protected:
    void expired() override;

private:
    void print(const EMS::SlotEvent &event);

    QList<EMS::SlotController *> controllers;
    QList<CardWaiter *> waiters;
    EMS::EventHistory *history = nullptr;
    EMS::RemoteBridge *bridge = nullptr;
    bool adapterSeen = false;
};

} // namespace Cli
