// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliMain.h"

#include "cli/Json.h"
#include "cli/UnitCommands.h"
#include "cli/UnitLock.h"
#include "cli/UserRuntime.h"
#include "panel/UnitAccessHint.h"

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
    return r.serial.empty() ? "no QX-77ZT unit found"
                            : "no QX-77ZT unit with serial number \"" + r.serial + "\" found";
}

bool isUnit(const THIDdeviceInfo& info, const CliRequest& r) {
    return textOf(info.manufacturer) == kUnitManufacturer &&
           (r.serial.empty() || textOf(info.serial) == r.serial);
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

} // namespace

int runList(const CliRequest& r, const CliEnvironment& env, CliOutput& out) {
    const std::optional<std::vector<uint8_t>> image = env.image ? env.image() : std::nullopt;
    std::string error = "the HID library image is missing";
    std::unique_ptr<LoadedLibrary> library = image ? LoadedLibrary::load(*image, error) : nullptr;
    if (!library) {
        out.fail(error);
        return kExitUnitFailed;
    }
    if (env.libraryLoaded) {
        env.libraryLoaded(*library);
    }
    LibraryPort port(library->entry());
    std::vector<std::string> json;
    int found = 0;
    const uint8_t count = port.scanForDevices();
    for (uint8_t i = 0; i < count; ++i) {
        THIDdeviceInfo info;
        std::memset(&info, 0, sizeof info);
        port.getDeviceInfo(i, &info);
        if (!isUnit(info, r)) {
            continue;
        }
        ++found;
        // The library counts the path's terminating zero in its length.
        const std::string path = textOf(info.path).c_str();
        const std::string product = textOf(info.product);
        const std::string mode = isBootProduct(product) ? "boot" : "normal";
        const bool permitted = info.readWrite != 0;
        std::optional<UnitAccessHint> hint;
        std::optional<UnitAccessCause> cause;
        if (!permitted) {
            cause = probeUnitAccess(path);
            hint = unitAccessHint(path, *cause);
        }
        if (r.json) {
            json.push_back(
                "{\"path\":" + jsonString(path) + ",\"serial\":" + jsonString(textOf(info.serial)) +
                ",\"version\":" + jsonString(versionText(info.releaseNumber)) +
                ",\"mode\":" + jsonString(mode) + ",\"access\":" + (permitted ? "true" : "false") +
                ",\"cause\":" + (cause ? jsonString(causeName(*cause)) : "null") +
                ",\"hint\":" + (hint ? jsonString(hint->text) : "null") + "}");
        } else {
            out.line(path + "  serial " + textOf(info.serial) + "  version " +
                     versionText(info.releaseNumber) + "  " + mode + " mode  " +
                     (permitted ? "accessible" : "not accessible: " + hint->text));
        }
    }
    if (r.json) {
        std::string units;
        for (const std::string& u : json) {
            units += (units.empty() ? "" : ",") + u;
        }
        out.line("{\"units\":[" + units + "]}");
    }
    if (found == 0) {
        out.fail(noUnitText(r));
        return kExitNoUnit;
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

    LinkState link;
    AnswerBox answers;
    CliConnectionView view;
    UsbLink usb(link, view, env.image, {}, &answers);
    if (!r.serial.empty()) {
        usb.setUnitFilter([serial = r.serial](const THIDdeviceInfo& info) {
            return textOf(info.serial) == serial;
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
    if (env.handOff) {
        if (const std::optional<int> handled = env.handOff(r, out, stop)) {
            return *handled;
        }
    }
    return runSelfDriven(r, env, out, stop);
}

} // namespace qx::cli
