// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliArgs.h"

#include "cli/SettingKeys.h"
#include "eventlog/EventTime.h"
#include "state/UnitLabels.h"
#include "watch/Event.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace qx::cli {

namespace {

struct CommandInfo {
    Command command;
    std::string_view name;
    int minOperands;
    int maxOperands;
    std::string_view synopsis;
    std::string_view description;
};

constexpr std::array<CommandInfo, 13> kCommands = {{
    {Command::List, "list", 0, 0, "qx77zt list [--json] [--serial S]",
     "Lists every unit found: device node, serial number, version, normal or boot mode,\n"
     "whether this user may open it (and if not, why), and its label when it has one."},
    {Command::Status, "status", 0, 0, "qx77zt status [--watch] [--json] [--serial S]",
     "Shows the unit's levels and settings as it reports them. With --watch, shows them again\n"
     "at each answer of the unit (ten times a second) until interrupted; with --json, one JSON\n"
     "object per line. With several units and no --serial, shows every unit: a block headed\n"
     "\"unit SERIAL\" and its label per unit, or with --json one array of objects that also\n"
     "name the unit (one unit alone keeps the single object); --watch then needs --serial."},
    {Command::Get, "get", 0, 0, "qx77zt get [--json] [--serial S]",
     "Shows the unit's settings as KEY=VALUE lines that `qx77zt set` takes back."},
    {Command::Set, "set", 1, 64, "qx77zt set KEY=VALUE... [--json] [--serial S]",
     "Changes settings and returns once the unit has acknowledged them. Keys and values:\n"
     "  preset=1..4             mute=on|off          sum=on|off        dif=on|off\n"
     "  dim=off|\"-20 dB\"|\"+20 dB\"  gain.left=-32..16    gain.right=-32..16\n"
     "  source.left=\"SDI #1\"..\"SDI #16\"|\"ANALOG L\"|\"ANALOG R\" (and source.right), for the\n"
     "  active preset\n"
     "  ballistics=VU|PPM       brightness=10%|30%|50%|100%\n"
     "  peakhold=OFF|Peak|TruePeak   scale=dB|dBFS\n"
     "Names are matched regardless of case and spaces. Changes apply in the order given."},
    {Command::Save, "save", 1, 1, "qx77zt save FILE.cfg [--serial S]",
     "Writes the unit's settings to a settings file, the same 18 bytes the window writes."},
    {Command::Load, "load", 1, 1, "qx77zt load FILE.cfg [--json] [--serial S]",
     "Sends the settings of a settings file to the unit and waits for its acknowledgement."},
    {Command::Defaults, "defaults", 0, 0, "qx77zt defaults [--json] [--serial S]",
     "Sends the factory default settings (the window's \"Ddefault\") and waits for the unit's\n"
     "acknowledgement."},
    {Command::Update, "update", 1, 1, "qx77zt update PACKAGE.orbu [--json] [--serial S]",
     "Checks the package against the unit, sends its flash and EEPROM images to a unit in boot\n"
     "mode with a progress bar (plain progress lines when not on a terminal) and reports the\n"
     "unit's verdict."},
    {Command::Reset, "reset", 0, 0, "qx77zt reset [--json] [--serial S]",
     "Asks a unit in boot mode to restore its default settings (the update window's\n"
     "\"Set to default\") and waits for its answer."},
    {Command::Label, "label", 0, 1,
     "qx77zt label [TEXT] [--clear] [--profile FILE|--no-profile] [--json] [--serial S]",
     "Gives the unit a label (at most 64 characters) that names it wherever it is shown and\n"
     "that --serial takes in place of its serial number; --clear takes it away. --profile FILE\n"
     "attaches a settings file that the window program writes to the unit whenever it\n"
     "connects in normal mode; --no-profile detaches it. Kept in this user's state folder;\n"
     "a unit not plugged in is named by --serial."},
    {Command::Diag, "diag", 0, 0, "qx77zt diag",
     "Prints the diagnostics report, as the window's \"Diagnostics\" shows it: the program and\n"
     "its HID library, the kernel, hidraw, udev and the unit's rule, whether this user may open\n"
     "the unit, and every device the library lists. Made by this process, so without the\n"
     "window's link counters."},
    {Command::Events, "events", 0, 0,
     "qx77zt events [--unit U] [--kind K] [--since T] [--until T] [--json]",
     "Prints the event log, oldest first: alarms raised and cleared, units connected and\n"
     "lost, boot mode, updates, settings changes (and from where), overs and their\n"
     "acknowledgement, and one summary per unit per minute. One line per event: local time,\n"
     "unit, kind, details; with --json the lines as the log keeps them (JSON, UTC times).\n"
     "--unit U keeps one unit's (its serial number or its name, regardless of case);\n"
     "--kind K the events of kind K (repeated, or K1,K2): alarm-raised, alarm-cleared,\n"
     "connected, disconnected, boot-loader, update-start, update-end, setting, over, over-ack,\n"
     "summary, program. --since T and --until T keep the events from T on and before T: an\n"
     "ISO date or date and time (2026-12-11, 2026-12-11T04:00, local time unless it ends in Z\n"
     "or +HH:MM), or a time ago (45s, 30m, 2h, 3d, 2w). Read straight from the log in the\n"
     "state folder, whether a program runs or not; with --demo, the demo program's log.\n"
     "Damaged lines are skipped and counted on standard error."},
    {Command::Monitor, "monitor", 0, 0, "qx77zt monitor",
     "Runs without a window: drives every unit, answers qx77zt's requests as the window\n"
     "program does, and keeps watching until ended (SIGTERM, SIGINT, SIGHUP; a firmware\n"
     "transfer under way is finished first). One monitor runs per user; a second one leaves\n"
     "with status 1. When the window program starts, the monitor hands the units over to it\n"
     "and takes them back when the window program ends. As a systemd user service:\n"
     "  systemctl --user enable --now qx77zt-monitor"},
}};

const CommandInfo* infoOf(Command command) {
    for (const CommandInfo& c : kCommands) {
        if (c.command == command) {
            return &c;
        }
    }
    return nullptr;
}

const CommandInfo* infoNamed(std::string_view name) {
    for (const CommandInfo& c : kCommands) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

ParsedArgs refused(std::string error) {
    return {std::nullopt, std::move(error)};
}

} // namespace

std::string_view commandName(Command command) {
    const CommandInfo* info = infoOf(command);
    return info ? info->name : std::string_view("qx77zt");
}

bool takesSerial(Command command) {
    return command != Command::None && command != Command::Diag && command != Command::Events &&
           command != Command::Monitor;
}

const std::vector<std::string>& eventKinds() {
    static const std::vector<std::string> kinds = {
        std::string(watch::kind::kAlarmRaised), std::string(watch::kind::kAlarmCleared),
        std::string(watch::kind::kConnected),   std::string(watch::kind::kDisconnected),
        std::string(watch::kind::kBootLoader),  std::string(watch::kind::kUpdateStarted),
        std::string(watch::kind::kUpdateEnded), std::string(watch::kind::kSetting),
        std::string(watch::kind::kOver),        std::string(watch::kind::kOverAcknowledged),
        std::string(watch::kind::kSummary),     std::string(watch::kind::kProgram)};
    return kinds;
}

bool needsOneUnit(Command command) {
    return command != Command::None && command != Command::List && command != Command::Status &&
           command != Command::Diag && command != Command::Events && command != Command::Monitor;
}

bool needsBootMode(Command command) {
    return command == Command::Update || command == Command::Reset;
}

bool needsNormalMode(Command command) {
    return command != Command::None && command != Command::List && command != Command::Diag &&
           command != Command::Label && command != Command::Events && command != Command::Monitor &&
           !needsBootMode(command);
}

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE"; nullopt (and `error` set)
// when it is missing or empty. `i` moves past a separate value.
std::optional<std::string> optionValue(const std::vector<std::string>& args, std::size_t& i,
                                       std::string_view name, std::string_view what,
                                       std::string& error) {
    const std::string& a = args[i];
    std::string value;
    if (a == name) {
        if (i + 1 == args.size()) {
            error = std::string(name) + " needs " + std::string(what);
            return std::nullopt;
        }
        value = args[++i];
    } else {
        value = a.substr(name.size() + 1);
    }
    if (value.empty()) {
        error = std::string(name) + " needs " + std::string(what);
        return std::nullopt;
    }
    return value;
}

bool isOption(const std::string& arg, std::string_view name) {
    return arg == name ||
           (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=');
}

} // namespace

ParsedArgs parseArgs(const std::vector<std::string>& args) {
    CliRequest r;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            if (a == "--") {
                optionsEnded = true;
            } else if (a == "--json") {
                r.json = true;
            } else if (a == "--watch") {
                r.watch = true;
            } else if (a == "--help" || a == "-h") {
                r.help = true;
            } else if (a == "--version") {
                r.version = true;
            } else if (a == "--demo") {
                r.demo = true;
            } else if (a == "--clear") {
                r.clearLabel = true;
            } else if (a == "--no-profile") {
                r.noProfile = true;
            } else if (a == "--profile" || a.starts_with("--profile=")) {
                if (a == "--profile") {
                    if (i + 1 == args.size()) {
                        return refused("--profile needs a settings file");
                    }
                    r.profile = args[++i];
                } else {
                    r.profile = a.substr(10);
                }
                if (r.profile.empty()) {
                    return refused("--profile needs a settings file");
                }
            } else if (isOption(a, "--unit") || isOption(a, "--since") || isOption(a, "--until") ||
                       isOption(a, "--kind")) {
                const std::string name = a.substr(0, a.find('='));
                std::string error;
                const std::optional<std::string> value =
                    optionValue(args, i, name,
                                name == "--unit"   ? "a serial number or a name"
                                : name == "--kind" ? "a kind of event"
                                                   : "a time",
                                error);
                if (!value) {
                    return refused(error);
                }
                if (name == "--unit") {
                    r.unit = *value;
                } else if (name == "--since") {
                    r.since = *value;
                } else if (name == "--until") {
                    r.until = *value;
                } else {
                    std::size_t from = 0;
                    while (from <= value->size()) {
                        const std::size_t comma = std::min(value->find(',', from), value->size());
                        r.kinds.push_back(value->substr(from, comma - from));
                        from = comma + 1;
                    }
                }
            } else if (a == "--serial" || a.starts_with("--serial=")) {
                if (a == "--serial") {
                    if (i + 1 == args.size()) {
                        return refused("--serial needs a serial number");
                    }
                    r.serial = args[++i];
                } else {
                    r.serial = a.substr(9);
                }
                if (r.serial.empty()) {
                    return refused("--serial needs a serial number");
                }
            } else {
                return refused("unknown option \"" + a + "\"");
            }
            continue;
        }
        if (r.command == Command::None) {
            if (a == "help") {
                r.help = true;
                continue;
            }
            const CommandInfo* info = infoNamed(a);
            if (info == nullptr) {
                return refused("unknown command \"" + a + "\" (see qx77zt --help)");
            }
            r.command = info->command;
            continue;
        }
        r.operands.push_back(a);
    }
    if (r.help || r.version) {
        r.operands.clear();
        return {r, {}};
    }
    if (r.command == Command::None) {
        return refused("no command given (see qx77zt --help)");
    }
    const CommandInfo& info = *infoOf(r.command);
    const auto count = static_cast<int>(r.operands.size());
    if (count < info.minOperands || count > info.maxOperands) {
        return refused("usage: " + std::string(info.synopsis));
    }
    if (r.demo &&
        (r.command == Command::List || r.command == Command::Diag || r.command == Command::Label)) {
        return refused("--demo does not go with " + std::string(info.name) +
                       ", which looks at this computer's own devices (try: qx77zt --demo status)");
    }
    if (r.watch && r.command != Command::Status) {
        return refused("--watch belongs to the status command");
    }
    if ((!r.unit.empty() || !r.kinds.empty() || !r.since.empty() || !r.until.empty()) &&
        r.command != Command::Events) {
        return refused("--unit, --kind, --since and --until belong to the events command");
    }
    if (r.command == Command::Events) {
        if (!r.serial.empty()) {
            return refused("events takes --unit (a serial number or a name), not --serial");
        }
        for (const std::string& k : r.kinds) {
            const std::vector<std::string>& known = eventKinds();
            if (std::find(known.begin(), known.end(), k) == known.end()) {
                std::string list;
                for (const std::string& n : known) {
                    list += (list.empty() ? "" : ", ") + n;
                }
                return refused("unknown kind of event \"" + k + "\" (kinds: " + list + ")");
            }
        }
        // Checked now for its form; read against the clock when the log is read.
        const auto now = eventlog::Clock::now();
        for (const std::string* t : {&r.since, &r.until}) {
            if (!t->empty() && !eventlog::parseUserTime(*t, now)) {
                return refused("cannot read the time \"" + *t +
                               "\": give a date (2026-12-11), a date and time (2026-12-11T04:00, "
                               "local unless it ends in Z or +HH:MM) or a time ago (30m, 2h, 3d)");
            }
        }
    }
    if ((r.clearLabel || r.noProfile || !r.profile.empty()) && r.command != Command::Label) {
        return refused("--clear, --profile and --no-profile belong to the label command");
    }
    if (r.command == Command::Label) {
        if (r.operands.empty() && !r.clearLabel && r.profile.empty() && !r.noProfile) {
            return refused("usage: " + std::string(info.synopsis));
        }
        if (!r.operands.empty() && r.clearLabel) {
            return refused("give a label or --clear, not both");
        }
        if (!r.profile.empty() && r.noProfile) {
            return refused("give --profile or --no-profile, not both");
        }
        if (!r.operands.empty() && !r.operands.front().empty()) {
            if (const std::string problem = state::labelProblem(r.operands.front());
                !problem.empty()) {
                return refused(problem);
            }
        }
    }
    if (r.command == Command::Set) {
        for (const std::string& operand : r.operands) {
            const ParsedChange change = parseSettingArgument(operand);
            if (!change.change) {
                return refused(change.error);
            }
        }
    }
    for (const std::string& operand : r.operands) {
        if (operand.empty()) {
            return refused("an empty argument is not a file name or a setting");
        }
    }
    return {r, {}};
}

std::vector<std::string> argsOf(const CliRequest& request) {
    std::vector<std::string> args;
    if (request.command != Command::None) {
        args.emplace_back(commandName(request.command));
    }
    if (request.json) {
        args.emplace_back("--json");
    }
    if (request.watch) {
        args.emplace_back("--watch");
    }
    if (request.help) {
        args.emplace_back("--help");
    }
    if (!request.serial.empty()) {
        args.push_back("--serial=" + request.serial);
    }
    if (request.clearLabel) {
        args.emplace_back("--clear");
    }
    if (!request.profile.empty()) {
        args.push_back("--profile=" + request.profile);
    }
    if (request.noProfile) {
        args.emplace_back("--no-profile");
    }
    if (!request.unit.empty()) {
        args.push_back("--unit=" + request.unit);
    }
    for (const std::string& k : request.kinds) {
        args.push_back("--kind=" + k);
    }
    if (!request.since.empty()) {
        args.push_back("--since=" + request.since);
    }
    if (!request.until.empty()) {
        args.push_back("--until=" + request.until);
    }
    if (!request.operands.empty()) {
        args.emplace_back("--");
        args.insert(args.end(), request.operands.begin(), request.operands.end());
    }
    return args;
}

std::string usageText(Command command) {
    if (const CommandInfo* info = infoOf(command)) {
        std::string text = "usage: " + std::string(info->synopsis) + "\n\n" +
                           std::string(info->description) + "\n";
        if (takesSerial(command)) {
            text += "\n--serial S chooses the unit with serial number S when several are plugged "
                    "in;\nS may also be where it is plugged in (its device node) or its label.\n";
        }
        if (command != Command::List && command != Command::Diag && command != Command::Label &&
            command != Command::Events && command != Command::Monitor) {
            text += "--demo sends the request to the running demo program instead of a unit.\n";
        }
        return text;
    }
    std::string text = "usage: qx77zt [--demo] COMMAND [OPTIONS] [ARGUMENTS]\n\n"
#ifdef _WIN32
                       // No window program is built for Windows yet to hand requests to.
                       "Controls a QX-77ZT unit from the command line.\n\nCommands:\n";
#else
                       "Controls a QX-77ZT unit from the command line. When the window program\n"
                       "runs for this user, the request is handed to it; otherwise qx77zt drives\n"
                       "the unit itself.\n\nCommands:\n";
#endif
    for (const CommandInfo& c : kCommands) {
#ifdef _WIN32
        // No monitor is built for Windows yet.
        if (c.command == Command::Monitor) {
            continue;
        }
#endif
        text += "  " + std::string(c.synopsis) + "\n";
    }
    text += "\nqx77zt COMMAND --help describes a command.\n"
            "--demo sends the request to the demo program QX_77ZT_demo running for this user\n"
            "(its virtual unit), to try every command without a unit; list, label and diag look\n"
            "at this computer's devices and do not take it; events reads the demo's event log.\n"
            "qx77zt --version prints the version.\n"
            "With several units plugged in, a command for one unit needs --serial (a serial\n"
            "number or a label); status without it shows every unit.\n"
            "Exit status: 0 done and confirmed by the unit, 1 the unit refused or did not confirm\n"
            "in time, 2 wrong usage or an unusable file, 3 no unit, 4 no permission to open it.\n";
    return text;
}

} // namespace qx::cli
