// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt's side of the hand-off: when the window program runs for this user, its local socket
// takes the request, so that only one program ever drives the unit.
#pragma once

#include "cli/CliArgs.h"
#include "cli/CliOutput.h"

#include <QString>

#include <chrono>
#include <optional>
#include <stop_token>
#include <string_view>

namespace qx::cli {

// Sends `request` to the window program listening on `endpoint` and relays its answer. nullopt
// when no window program of this user listens there (nobody, or a process of another user, which
// is sent nothing); otherwise the exit status. A --watch ends when `stop` is requested.
// `program` names the program there in messages.
std::optional<int> handToWindow(const QString& endpoint, const CliRequest& request, CliOutput& out,
                                std::stop_token stop,
                                std::string_view program = "the window program");

} // namespace qx::cli
