// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor keeps watch as the window program does: alarms, notices, the operator's command and
// the event log, over whichever room it drives at the moment.
#pragma once

#include "monitor/MonitorHooks.h"

#include <filesystem>
#include <functional>

namespace qx::monitor {

// What MonitorOptions::makeHooks gives for a monitor that keeps watch: the alarms read from
// alarms.conf (the demo's folder for `demo`), the log in the state folder's "events".
std::function<MonitorHooks(const std::filesystem::path& stateFolder)> watchHooks(bool demo);

} // namespace qx::monitor
