#pragma once

#include "cli/clicommand.h"

namespace Cli {

// `ports`: the machine's serial ports, the slot the choice by position gives each, and
// which are busy; devices named with --port1/--port2 are listed as their slot's.
class PortsCommand : public CliCommand
{
    Q_OBJECT

public:
    using CliCommand::CliCommand;
    void start() override;
};

} // namespace Cli
