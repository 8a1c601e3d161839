// SPDX-License-Identifier: GPL-3.0-or-later
// `qx77zt monitor`: the headless monitor as a program, in a terminal or as a systemd user service.
#pragma once

#include "monitor/MonitorHooks.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qx::monitor {

struct MonitorArgs {
    // Over the demo's virtual units (a build that carries the virtual HID library only).
    bool demo = false;
    // The virtual units plugged in at start (--units N, 1 to 15; the demo only).
    int units = 1;
};

struct ParsedMonitorArgs {
    // Whether the command line asks for the monitor (and not for its --help, which the command
    // line's own parser answers).
    bool monitor = false;
    std::optional<MonitorArgs> args; // when `monitor`; nullopt: refused, see error
    std::string error;
};

// `args` without the program name.
ParsedMonitorArgs parseMonitorArgs(const std::vector<std::string>& args);

struct MonitorOptions {
    MonitorArgs args;
    // Whether this build carries the virtual HID library (and so runs only the demo's monitor).
    bool virtualLibrary = false;
    // Gives the hooks (the alarms, the event log), called once the application object exists and
    // this is the user's one monitor, before the units are taken; what they hold is kept until
    // runMonitor() returns. `stateFolder` is the monitor's ($XDG_STATE_HOME/qx77zt, the demo's
    // qx77zt-demo). Empty: no hooks.
    std::function<MonitorHooks(const std::filesystem::path& stateFolder)> makeHooks;
};

// Runs the monitor until a stop signal; returns the exit status (1 when another monitor runs or
// the HID library cannot be had). Makes the application object itself; the stop signals must
// not be blocked.
int runMonitor(int argc, char** argv, const MonitorOptions& options);

} // namespace qx::monitor
