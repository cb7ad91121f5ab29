#pragma once

#include "cli/clicommand.h"

#include <QList>

namespace Cli {

class CardWaiter;

// `status`: both slots (or the one given with --slot) once, after their cards have
// answered or the deadline has passed. Fails when a slot with an adapter has no card
// answering, or when no slot has a card at all.
class StatusCommand : public CliCommand
{
    Q_OBJECT

public:
    using CliCommand::CliCommand;
    void start() override;

protected:
    void expired() override;

private:
    void checkAllReady();
    void report();

    QList<CardWaiter *> waiters;
};

} // namespace Cli
