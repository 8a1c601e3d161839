// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliMain.h"

#include "cli/EventsCommand.h"
#include "cli/Json.h"
#include "cli/SeveralStatus.h"
#include "cli/UnitCommands.h"
#include "cli/UnitLock.h"
#include "cli/UserRuntime.h"
#include "link/DevicePlace.h"
#include "panel/SettingsFile.h"
#include "panel/UnitAccessHint.h"
#include "state/UnitLabels.h"
#include "state/Utf8Path.h"

#include <algorithm>
#include <cstring>

namespace qx::cli {

namespace {

// What the connection tells about the unit, kept for the command.
class CliConnectionView : public ConnectionView {
public:
    void setControlsEnabled(bool) override {}
    void setDeviceFields(const std::string& name, const std::string& serial,
                         const std::string& version) override {
        unit.product = name;
        unit.serial = serial;
        unit.version = version;
    }
    void setUpdateButtonsEnabled(bool) override {}
    void setUnitInaccessible(const std::string& path) override { inaccessible = path; }
    void setUnitRefused(uint16_t outputLength, uint16_t inputLength) override {
        refused = unitRefusedHint(outputLength, inputLength).text;
    }

    ConnectedUnit unit;
    std::string inaccessible;
    std::string refused; // why a device of the unit's maker was left alone
};

std::string noUnitText(const CliRequest& r) {
    return r.serial.empty()
               ? "no QX-77ZT unit found"
               : "no QX-77ZT unit with serial number or label \"" + r.serial + "\" found";
}

const char* causeName(UnitAccessCause cause) {
    switch (cause) {
    case UnitAccessCause::RuleMissing:
        return "rule-missing";
    case UnitAccessCause::RuleNotApplied:
        return "rule-not-applied";
    case UnitAccessCause::NodeRefused:
        break;
    }
    return "node-refused";
}

// A device of the unit's maker, as a scan found it, with the operator's name for it.
struct FoundUnit {
    std::string path;
    std::string serial;
    std::string version;
    bool boot = false;
    bool permitted = false;
    std::string label;
    // Where its label is kept: where it is plugged in when another unit reports the same serial
    // number.
    std::string place;
};

// Lists the units with a library copy of its own, loaded for the scan alone. nullopt (and the
// reason told) when the library cannot be loaded.
std::optional<std::vector<FoundUnit>> scanUnits(const CliEnvironment& env, CliOutput& out) {
    const std::optional<std::vector<uint8_t>> image = env.image ? env.image() : std::nullopt;
    std::string error = "the HID library image is missing";
    std::unique_ptr<LoadedLibrary> library = image ? LoadedLibrary::load(*image, error) : nullptr;
    if (!library) {
        out.fail(error);
        return std::nullopt;
    }
    if (env.libraryLoaded) {
        env.libraryLoaded(*library);
    }
    LibraryPort port(library->entry());
    std::vector<FoundUnit> units;
    const uint8_t count = port.scanForDevices();
    for (uint8_t i = 0; i < count; ++i) {
        THIDdeviceInfo info;
        std::memset(&info, 0, sizeof info);
        port.getDeviceInfo(i, &info);
        if (textOf(info.manufacturer) != kUnitManufacturer) {
            continue;
        }
        FoundUnit u;
        // The library counts the path's terminating zero in its length.
        u.path = textOf(info.path).c_str();
        u.serial = textOf(info.serial);
        u.version = versionText(info.releaseNumber);
        u.boot = isBootProduct(textOf(info.product));
        u.permitted = info.readWrite != 0;
        units.push_back(std::move(u));
    }
    return units;
}

// Reads the labels; a damaged or unreadable file is told and otherwise ignored.
void loadLabels(state::UnitLabels& labels, CliOutput& out) {
    if (const std::string trouble = labels.load(); !trouble.empty()) {
        out.write(true, "qx77zt: warning: " + trouble + "\n");
    }
}

void nameUnits(std::vector<FoundUnit>& units, const state::UnitLabels& labels) {
    for (FoundUnit& u : units) {
        const bool twin = std::count_if(units.begin(), units.end(), [&u](const FoundUnit& o) {
                              return o.serial == u.serial;
                          }) > 1;
        u.place = twin ? devicePlace(u.path) : std::string();
        if (const std::optional<state::UnitLabel> r = labels.find(u.serial, u.place)) {
            u.label = r->label;
        }
    }
}

// The units found now, each with its label from `labels` (read first); nullopt (and the reason
// told) when the library cannot be loaded.
std::optional<std::vector<FoundUnit>> namedUnits(const CliEnvironment& env,
                                                 state::UnitLabels& labels, CliOutput& out) {
    loadLabels(labels, out);
    std::optional<std::vector<FoundUnit>> units = scanUnits(env, out);
    if (units) {
        nameUnits(*units, labels);
    }
    return units;
}

std::vector<state::NamedUnit> namesOf(const std::vector<FoundUnit>& units) {
    std::vector<state::NamedUnit> names;
    for (const FoundUnit& u : units) {
        names.push_back({u.serial, u.path, u.label});
    }
    return names;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string modeText(const FoundUnit& u) {
    return u.boot ? "boot" : "normal";
}

// The listing a refusal gives: one line per unit, as `list` names them.
std::string unitListing(const std::vector<FoundUnit>& units) {
    std::string text;
    for (const FoundUnit& u : units) {
        text += "  " + u.path + "  serial " + u.serial +
                (u.label.empty() ? "" : "  label " + quoted(u.label)) + "  " + modeText(u) +
                " mode" + (u.permitted ? "" : "  not accessible") + "\n";
    }
    return text;
}

int refuseSeveral(const CliRequest& r, const std::vector<FoundUnit>& units, CliOutput& out) {
    const std::string what = r.command == Command::Status
                                 ? "status --watch follows one unit"
                                 : std::string(commandName(r.command)) + " acts on one unit";
    out.write(true, "qx77zt: " + std::to_string(units.size()) +
                        " QX-77ZT units are plugged in and " + what +
                        ": choose it with --serial (a serial number or a label):\n" +
                        unitListing(units));
    return kExitUsage;
}

// Keeps what a command prints, to put it into one JSON array with the other units' answers.

// Drives one unit (the first of the maker when `unit` is null) through a link of its own.
int driveUnit(const CliRequest& r, const CliEnvironment& env, CliOutput& out, std::stop_token stop,
              const FoundUnit* unit) {
    LinkState link;
    AnswerBox answers;
    CliConnectionView view;
    UsbLink usb(link, view, env.image, {}, &answers);
    if (unit != nullptr) {
        usb.setUnitFilter([path = unit->path, serial = unit->serial](const THIDdeviceInfo& info) {
            return std::string(textOf(info.path).c_str()) == path && textOf(info.serial) == serial;
        });
    }
    if (!usb.bindLibrary()) {
        out.fail(usb.lastError());
        return kExitUnitFailed;
    }
    if (env.libraryLoaded) {
        env.libraryLoaded(*usb.library());
        usb.connectUnit();
    }
    if (!view.inaccessible.empty()) {
        out.fail(unitAccessHint(view.inaccessible, probeUnitAccess(view.inaccessible)).text);
        return kExitNoPermission;
    }
    if (!link.connected) {
        out.fail(view.refused.empty() ? noUnitText(r) : view.refused);
        return kExitNoUnit;
    }
    UnitContext context{link, answers, view.unit};
    context.unit.boot = link.bootMode;
    context.answerLimit = env.answerLimit;
    context.verdictLimit = env.verdictLimit;
    // Read only for an update, which adds to it.
    std::optional<state::UpdateJournal> journal;
    if (r.command == Command::Update && !env.journalFile.empty()) {
        journal.emplace(env.journalFile);
        journal->load();
        context.journal = &*journal;
    }
    const int status = runUnitCommand(r, context, out, stop);
    if (env.libraryFinished) {
        env.libraryFinished(*usb.library());
    }
    return status;
}

// status without --serial among several units: each unit in turn, one link at a time.
int statusOfAll(const CliRequest& r, const CliEnvironment& env, CliOutput& out,
                std::stop_token stop, const std::vector<FoundUnit>& units) {
    std::vector<StatusTarget> targets;
    for (const FoundUnit& u : units) {
        targets.push_back(
            {u.path, u.serial, u.place, u.label, u.boot,
             [&r, &env, stop, &u](CliOutput& o) { return driveUnit(r, env, o, stop, &u); }});
    }
    return statusOfSeveral(r, targets, out);
}

} // namespace

int runList(const CliRequest& r, const CliEnvironment& env, CliOutput& out) {
    state::UnitLabels labels(env.labelsFile);
    std::optional<std::vector<FoundUnit>> units = namedUnits(env, labels, out);
    if (!units) {
        return kExitUnitFailed;
    }
    std::vector<std::size_t> shown;
    if (r.serial.empty()) {
        for (std::size_t i = 0; i < units->size(); ++i) {
            shown.push_back(i);
        }
    } else {
        // Every unit the name fits, two of the same serial number too.
        shown = state::matchUnit(r.serial, namesOf(*units)).units;
    }
    std::vector<std::string> json;
    for (const std::size_t i : shown) {
        const FoundUnit& u = (*units)[i];
        std::optional<UnitAccessHint> hint;
        std::optional<UnitAccessCause> cause;
        if (!u.permitted) {
            cause = probeUnitAccess(u.path);
            hint = unitAccessHint(u.path, *cause);
        }
        if (r.json) {
            json.push_back(
                "{\"path\":" + jsonString(u.path) + ",\"serial\":" + jsonString(u.serial) +
                ",\"label\":" + jsonString(u.label) + ",\"version\":" + jsonString(u.version) +
                ",\"mode\":" + jsonString(modeText(u)) +
                ",\"access\":" + (u.permitted ? "true" : "false") +
                ",\"cause\":" + (cause ? jsonString(causeName(*cause)) : "null") +
                ",\"hint\":" + (hint ? jsonString(hint->text) : "null") + "}");
        } else {
            out.line(u.path + "  serial " + u.serial + "  version " + u.version + "  " +
                     modeText(u) + " mode  " +
                     (u.permitted ? "accessible" : "not accessible: " + hint->text) +
                     (u.label.empty() ? "" : "  label " + quoted(u.label)));
        }
    }
    if (r.json) {
        std::string list;
        for (const std::string& u : json) {
            list += (list.empty() ? "" : ",") + u;
        }
        out.line("{\"units\":[" + list + "]}");
    }
    if (shown.empty()) {
        out.fail(noUnitText(r));
        return kExitNoUnit;
    }
    return kExitDone;
}

int runLabel(const CliRequest& r, const CliEnvironment& env, CliOutput& out) {
    if (env.labelsFile.empty()) {
        out.fail("no state folder can be found (neither XDG_STATE_HOME nor HOME is set): labels "
                 "cannot be kept");
        return kExitUsage;
    }
    state::UnitLabels labels(env.labelsFile);
    std::optional<std::vector<FoundUnit>> units = namedUnits(env, labels, out);
    if (!units) {
        return kExitUnitFailed;
    }
    const std::size_t present = units->size();
    // Units labelled before and not plugged in now may be named by --serial too.
    for (const state::UnitLabel& kept : labels.all()) {
        const bool seen =
            std::any_of(units->begin(), units->begin() + static_cast<std::ptrdiff_t>(present),
                        [&kept](const FoundUnit& u) {
                            return u.serial == kept.serial &&
                                   (kept.place.empty() || kept.place == devicePlace(u.path));
                        });
        if (!seen) {
            FoundUnit absent;
            absent.serial = kept.serial;
            absent.path = kept.place;
            absent.place = kept.place;
            absent.label = kept.label;
            units->push_back(std::move(absent));
        }
    }
    std::size_t chosen = 0;
    if (!r.serial.empty()) {
        const state::UnitMatch match = state::matchUnit(r.serial, namesOf(*units));
        if (match.units.empty()) {
            out.fail(noUnitText(r));
            return kExitNoUnit;
        }
        if (match.units.size() > 1) {
            out.fail(match.error);
            return kExitUsage;
        }
        chosen = match.units.front();
    } else if (present == 0) {
        out.fail(noUnitText(r));
        return kExitNoUnit;
    } else if (present > 1) {
        units->resize(present);
        return refuseSeveral(r, *units, out);
    }
    const FoundUnit& unit = (*units)[chosen];
    state::UnitLabel record;
    record.serial = unit.serial;
    record.place = unit.place;
    for (const state::UnitLabel& kept : labels.all()) {
        if (kept.serial == record.serial && kept.place == record.place) {
            record = kept;
        }
    }
    if (!r.operands.empty()) {
        record.label = r.operands.front();
    }
    if (r.clearLabel) {
        record.label.clear();
    }
    if (r.noProfile) {
        record.profile.clear();
        record.applyProfile = false;
    }
    if (!r.profile.empty()) {
        // Checked now, so that what is written on connect is a settings record.
        const panel::FileBytes read = panel::readSettingsFile(r.profile);
        if (!read.ok) {
            out.fail("cannot open file \"" + r.profile + "\": " + read.error);
            return kExitUsage;
        }
        if (const panel::ParsedSettings parsed = panel::parseSettingsFile(read.bytes);
            !parsed.settings) {
            out.fail("\"" + r.profile + "\" is not a settings file: " + parsed.problem);
            return kExitUsage;
        }
        record.profile = utf8Text(std::filesystem::absolute(utf8Path(r.profile)));
        record.applyProfile = true;
    }
    const state::LabelChange change = labels.set(record);
    if (!change.notice.empty()) {
        out.write(true, "qx77zt: warning: " + change.notice + "\n");
    }
    if (change.status != state::LabelChange::Status::Done) {
        out.fail(change.error);
        return kExitUsage;
    }
    if (r.json) {
        out.line("{\"serial\":" + jsonString(record.serial) + ",\"place\":" +
                 jsonString(record.place) + ",\"label\":" + jsonString(record.label) +
                 ",\"profile\":" + jsonString(record.profile) +
                 ",\"applyProfile\":" + (record.applyProfile ? "true" : "false") + "}");
    }
    return kExitDone;
}

int runSelfDriven(const CliRequest& r, const CliEnvironment& env, CliOutput& out,
                  std::stop_token stop) {
    std::string lockDir = env.lockDir;
    if (lockDir.empty()) {
        RuntimeFolder place = userRuntimeFolder();
        if (place.path.empty()) {
            out.fail(place.error);
            return kExitUnitFailed;
        }
        lockDir = std::move(place.path);
    }
    UnitLock lock(std::move(lockDir));
    switch (lock.take(commandName(r.command), env.answerLimit)) {
    case UnitLock::Result::Taken:
        break;
    case UnitLock::Result::Busy:
        out.fail(unitBusyText(lock.holder()));
        return kExitUnitFailed;
    case UnitLock::Result::Failed:
        out.fail(lock.error());
        return kExitUnitFailed;
    }

    state::UnitLabels labels(env.labelsFile);
    std::optional<std::vector<FoundUnit>> units = namedUnits(env, labels, out);
    if (!units) {
        return kExitUnitFailed;
    }
    if (!r.serial.empty()) {
        const state::UnitMatch match = state::matchUnit(r.serial, namesOf(*units));
        if (match.units.empty()) {
            out.fail(noUnitText(r));
            return kExitNoUnit;
        }
        if (match.units.size() > 1) {
            out.fail(match.error);
            return kExitUsage;
        }
        return driveUnit(r, env, out, stop, &(*units)[match.units.front()]);
    }
    if (units->size() <= 1) {
        // None found: the link's own search says why (nothing there, or a device refused).
        return driveUnit(r, env, out, stop, units->empty() ? nullptr : &units->front());
    }
    if (r.command == Command::Status && !r.watch) {
        return statusOfAll(r, env, out, stop, *units);
    }
    return refuseSeveral(r, *units, out);
}

int runCli(const std::vector<std::string>& args, const CliEnvironment& env, CliOutput& out,
           std::stop_token stop) {
    const ParsedArgs parsed = parseArgs(args);
    if (!parsed.request) {
        out.fail(parsed.error);
        return kExitUsage;
    }
    const CliRequest& r = *parsed.request;
    if (r.version) {
        out.line("qx77zt " QX_PROGRAM_VERSION);
        return kExitDone;
    }
    if (r.help) {
        out.write(false, usageText(r.command));
        return kExitDone;
    }
    if (r.command == Command::Events) {
        return runEvents(r, r.demo ? env.demoEventsFolder : env.eventsFolder, out);
    }
    if (r.command == Command::Monitor) {
        // The program's entry runs the monitor before it gets here, where it is built.
        out.fail("this build has no monitor");
        return kExitUsage;
    }
    if (r.demo) {
        // Never a unit instead: the request was meant for the demo's virtual unit.
        if (!env.demoHandOff) {
            out.fail("this build has no demo program");
            return kExitNoUnit;
        }
        if (const std::optional<int> handled = env.demoHandOff(r, out, stop)) {
            return *handled;
        }
        out.fail("no demo program runs for this user (start QX_77ZT_demo first)");
        return kExitNoUnit;
    }
    if (r.command == Command::List) {
        return runList(r, env, out);
    }
    if (r.command == Command::Diag) {
        return runDiag(env, out);
    }
    if (r.command == Command::Label) {
        return runLabel(r, env, out);
    }
    if (env.handOff) {
        if (const std::optional<int> handled = env.handOff(r, out, stop)) {
            return *handled;
        }
    }
    return runSelfDriven(r, env, out, stop);
}

} // namespace qx::cli
