// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that talk to one connected unit, on whichever link drives it: the one this
// process binds, or the window program's. They block the calling thread until the unit has
// answered or a time limit has passed.
#pragma once

#include "cli/AnswerBox.h"
#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "link/LinkState.h"
#include "state/UpdateJournal.h"

#include <chrono>
#include <stop_token>
#include <string>

namespace qx::cli {

struct ConnectedUnit {
    std::string product; // as the unit reports it, "(boot)" included in boot mode
    std::string serial;
    std::string version;
    bool boot = false;
};

struct UnitContext {
    LinkState& link;
    AnswerBox& answers;
    ConnectedUnit unit;
    // How long an answer to a request may take, and the unit's verdict after an update.
    std::chrono::milliseconds answerLimit{3000};
    std::chrono::milliseconds verdictLimit{20000};
    // Between two status requests of --watch.
    std::chrono::milliseconds watchInterval{100};
    // Where an update is journalled; nullptr keeps no journal.
    state::UpdateJournal* journal = nullptr;
};

// Runs every command but list and help. `stop` ends a --watch (an update always runs to its end,
// as the window does). Returns the exit status.
int runUnitCommand(const CliRequest& request, UnitContext& context, CliOutput& out,
                   std::stop_token stop = {});

} // namespace qx::cli
