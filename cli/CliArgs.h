// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of qx77zt: which command, its options and operands, checked before anything
// touches a unit. The same parser reads the requests the window program takes over its socket.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::cli {

enum class Command {
    None,
    List,
    Status,
    Get,
    Set,
    Save,
    Load,
    Defaults,
    Update,
    Reset,
    Label,
    Diag,
    Events,
    // Runs the headless monitor (read by the program's entry, never handed over).
    Monitor
};

// Exit statuses, as the manual page lists them.
enum ExitStatus : int {
    kExitDone = 0,         // done, and confirmed by the unit
    kExitUnitFailed = 1,   // the unit refused, did not confirm in time, or is in the wrong mode
    kExitUsage = 2,        // wrong usage, or a file that cannot be used
    kExitNoUnit = 3,       // no unit found
    kExitNoPermission = 4, // a unit is there but this user may not open it
};

struct CliRequest {
    Command command = Command::None;
    bool json = false;
    bool watch = false; // status only
    bool help = false;
    bool version = false;
    // Talk to the running demo program (its virtual unit) instead of a unit.
    bool demo = false;
    // A serial number, where a unit is plugged in, or a label; empty: the one unit found.
    std::string serial;
    std::vector<std::string> operands;
    // label only: forget the label; attach a settings file to write on connect; detach it.
    bool clearLabel = false;
    std::string profile;
    bool noProfile = false;
    // events only: which unit (serial or name), kinds, and times as typed (checked here, read
    // against the clock when the log is read).
    std::string unit;
    std::vector<std::string> kinds;
    std::string since;
    std::string until;

    friend bool operator==(const CliRequest&, const CliRequest&) = default;
};

struct ParsedArgs {
    std::optional<CliRequest> request;
    std::string error; // one line, when !request
};

// `args` without the program name.
ParsedArgs parseArgs(const std::vector<std::string>& args);

// The arguments that parse back into `request`, less what only this side reads (--demo,
// --version); file operands are passed as they are.
std::vector<std::string> argsOf(const CliRequest& request);

std::string_view commandName(Command command);
// The kinds of event the log holds, as --kind names them.
const std::vector<std::string>& eventKinds();
// The --help text of a command; Command::None gives the overview.
std::string usageText(Command command);
// Whether a command reads --serial (and so shows it in its usage line).
bool takesSerial(Command command);

// Commands that act on one unit, and so cannot choose among several units by themselves.
bool needsOneUnit(Command command);

// Commands that need the unit in its boot loader, and those that need it running normally.
bool needsBootMode(Command command);
bool needsNormalMode(Command command);

} // namespace qx::cli
