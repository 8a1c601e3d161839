// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt from its arguments to its exit status: usage and help, list and labels, the hand-off to
// a running window program, and otherwise driving the units through links of its own, one at a
// time.
#pragma once

#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "link/UsbLink.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace qx::cli {

struct CliEnvironment {
    // The HID library image this process loads when it drives the unit itself.
    UsbLink::ImageSource image;
    // Called once the library is loaded and before the units are scanned (tests set up the
    // virtual units here).
    std::function<void(LoadedLibrary&)> libraryLoaded;
    // Called when the command has ended, before the library is unloaded again.
    std::function<void(LoadedLibrary&)> libraryFinished;
    // Gives the request to a running window program: its exit status, or nullopt when no window
    // program runs for this user.
    std::function<std::optional<int>(const CliRequest&, CliOutput&, std::stop_token)> handOff;
    // The same to a running demo program, for --demo; empty where no demo program is built.
    std::function<std::optional<int>(const CliRequest&, CliOutput&, std::stop_token)> demoHandOff;
    // Where the unit lock lives (shared with the window program); empty: userRuntimeFolder().
    std::string lockDir;
    // The update journal this process writes when it drives the unit itself; empty keeps none.
    std::filesystem::path journalFile;
    // The operator's unit labels (state::UnitLabels); empty keeps none.
    std::filesystem::path labelsFile;
    // The event log's folder, and the demo program's (for --demo); empty: none to read.
    std::filesystem::path eventsFolder;
    std::filesystem::path demoEventsFolder;
    std::chrono::milliseconds answerLimit{3000};
    std::chrono::milliseconds verdictLimit{20000};
};

int runCli(const std::vector<std::string>& args, const CliEnvironment& env, CliOutput& out,
           std::stop_token stop = {});

// The two parts runCli chooses between, for a parsed request.
int runList(const CliRequest& request, const CliEnvironment& env, CliOutput& out);
// The diagnostics report of this process: its library, the system, a fresh scan; no link.
int runDiag(const CliEnvironment& env, CliOutput& out);
// Changes a unit's label record in the labels file; no link.
int runLabel(const CliRequest& request, const CliEnvironment& env, CliOutput& out);
int runSelfDriven(const CliRequest& request, const CliEnvironment& env, CliOutput& out,
                  std::stop_token stop);

} // namespace qx::cli
