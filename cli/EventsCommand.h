// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt events: the event log, read straight from its folder, filtered and printed one event
// per line (or as the JSON lines it keeps). No program needs to run, and none is asked.
#pragma once

#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "eventlog/EventTime.h"

#include <filesystem>

namespace qx::cli {

// Reads the log in `folder` for `request` (--since and --until read against `now`). Status 0,
// also when nothing matches; 2 when the times do not read or there is no folder to read.
int runEvents(const CliRequest& request, const std::filesystem::path& folder, CliOutput& out,
              eventlog::TimePoint now = eventlog::Clock::now());

} // namespace qx::cli
