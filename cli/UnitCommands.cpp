// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/UnitCommands.h"

#include "cli/Json.h"
#include "cli/SettingKeys.h"
#include "panel/SettingsFile.h"
#include "state/Utf8Path.h"
#include "update/UpdateLog.h"
#include "update/UpdatePackage.h"
#include "update/UpdateRun.h"

#include <filesystem>
#include <thread>

namespace qx::cli {

namespace {

std::string seconds(std::chrono::milliseconds limit) {
    const auto tenths = (limit.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") +
           " s";
}

std::string quotedIfSpaced(const std::string& value) {
    return value.find(' ') == std::string::npos ? value : "\"" + value + "\"";
}

std::string statusJson(const DeviceSettings& s, const DeviceStatus& st) {
    return "{\"levels\":{\"left\":" + std::to_string(st.levelLeft) +
           ",\"right\":" + std::to_string(st.levelRight) +
           "},\"readings\":{\"left\":" + jsonString(levelReading(st.levelLeft)) +
           ",\"right\":" + jsonString(levelReading(st.levelRight)) +
           "},\"settings\":" + settingsJson(s) + "}";
}

void printSettings(const DeviceSettings& s, bool json, CliOutput& out) {
    if (json) {
        out.line(settingsJson(s));
        return;
    }
    for (const ShownSetting& item : showSettings(s)) {
        out.line(item.key + "=" + item.value);
    }
}

void printStatus(const DeviceSettings& s, const DeviceStatus& st, const CliRequest& r,
                 CliOutput& out) {
    if (r.json) {
        out.line(statusJson(s, st));
        return;
    }
    const std::string left = levelReading(st.levelLeft);
    const std::string right = levelReading(st.levelRight);
    if (r.watch) {
        // One line per answer, so that a log keeps one reading per line.
        std::string line = "level.left=" + left + " level.right=" + right;
        for (const ShownSetting& item : showSettings(s)) {
            line += " " + item.key + "=" + quotedIfSpaced(item.value);
        }
        out.line(line);
        return;
    }
    out.line("level.left=" + left);
    out.line("level.right=" + right);
    printSettings(s, false, out);
}

class Commands {
public:
    Commands(const CliRequest& r, UnitContext& c, CliOutput& o) : r_(r), c_(c), out_(o) {}

    int run(std::stop_token stop) {
        if (const int refused = checkMode(); refused != kExitDone) {
            return refused;
        }
        switch (r_.command) {
        case Command::Status:
            return status(stop);
        case Command::Get:
            return get();
        case Command::Set:
            return set();
        case Command::Save:
            return save();
        case Command::Load:
            return load();
        case Command::Defaults:
            return write([](DeviceSettings& s) { s = factoryDefaults(); });
        case Command::Reset:
            return reset();
        case Command::Update:
            return update();
        case Command::List:
        case Command::Label:
        case Command::Diag:
        case Command::Events:
        case Command::Monitor:
        case Command::None:
            break;
        }
        out_.fail("this command does not talk to a unit");
        return kExitUsage;
    }

private:
    int checkMode() {
        if (needsNormalMode(r_.command) && c_.unit.boot) {
            out_.fail("the unit is in boot mode: only update and reset work there");
            return kExitUnitFailed;
        }
        if (needsBootMode(r_.command) && !c_.unit.boot) {
            out_.fail("the unit is not in boot mode: " + std::string(commandName(r_.command)) +
                      " needs it running its boot loader");
            return kExitUnitFailed;
        }
        return kExitDone;
    }

    // Asks for the unit's state and waits for the answer, so that what is shown, saved or
    // changed starts from what the unit holds now.
    bool freshAnswer() {
        const uint64_t seen = c_.link.answersStored();
        c_.link.postStatusRequest(); // refused while a request is pending; its answer will do
        if (c_.link.waitForAnswer(seen, false, c_.answerLimit)) {
            return true;
        }
        out_.fail("the unit did not answer within " + seconds(c_.answerLimit));
        return false;
    }

    int status(std::stop_token stop) {
        if (!freshAnswer()) {
            return kExitUnitFailed;
        }
        printStatus(c_.link.settings(), c_.link.status(), r_, out_);
        if (!r_.watch) {
            return kExitDone;
        }
        uint64_t seen = c_.link.answersStored();
        auto nextPost = std::chrono::steady_clock::now();
        while (!stop.stop_requested()) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextPost) {
                c_.link.postStatusRequest();
                nextPost = now + c_.watchInterval;
            }
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::max(nextPost - std::chrono::steady_clock::now(),
                         std::chrono::steady_clock::duration(std::chrono::milliseconds(1))));
            if (c_.link.waitForAnswer(seen, false, wait)) {
                seen = c_.link.answersStored();
                printStatus(c_.link.settings(), c_.link.status(), r_, out_);
                lastAnswer_ = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - lastAnswer_ > c_.answerLimit) {
                out_.fail("the unit stopped answering");
                return kExitUnitFailed;
            }
        }
        return kExitDone;
    }

    int get() {
        if (!freshAnswer()) {
            return kExitUnitFailed;
        }
        printSettings(c_.link.settings(), r_.json, out_);
        return kExitDone;
    }

    // Changes the record, sends it and waits until the unit has acknowledged the write; then
    // checks that the unit kept what was asked for.
    int write(const std::function<void(DeviceSettings&)>& edit) {
        if (!freshAnswer()) {
            return kExitUnitFailed;
        }
        const uint64_t seen = c_.link.answersStored();
        c_.link.save(edit, ChangeOrigin::CommandLine);
        if (!c_.link.waitForAnswer(seen, true, c_.answerLimit)) {
            out_.fail("the unit did not acknowledge the settings within " +
                      seconds(c_.answerLimit));
            return kExitUnitFailed;
        }
        const DeviceSettings confirmed = c_.link.settings();
        DeviceSettings wanted = confirmed;
        edit(wanted);
        if (wanted != confirmed) {
            out_.fail("the unit acknowledged the settings but kept other values");
            return kExitUnitFailed;
        }
        if (r_.json) {
            printSettings(confirmed, true, out_);
        }
        return kExitDone;
    }

    int set() {
        std::vector<SettingChange> changes;
        for (const std::string& operand : r_.operands) {
            ParsedChange parsed = parseSettingArgument(operand);
            if (!parsed.change) {
                out_.fail(parsed.error);
                return kExitUsage;
            }
            changes.push_back(std::move(*parsed.change));
        }
        return write([&changes](DeviceSettings& s) {
            for (const SettingChange& change : changes) {
                applySettingChange(change, s);
            }
        });
    }

    int save() {
        if (!freshAnswer()) {
            return kExitUnitFailed;
        }
        const std::string& file = r_.operands.front();
        const DeviceSettings settings = c_.link.settings();
        // Whatever is saved must load again.
        if (const auto problem = panel::settingsProblem(rawBytes(settings))) {
            out_.fail("the settings cannot be saved: " + *problem);
            return kExitUnitFailed;
        }
        const panel::FileResult written = panel::writeSettingsFile(file, settings);
        if (!written.ok) {
            out_.fail("cannot create file \"" + file + "\": " + written.error);
            return kExitUsage;
        }
        return kExitDone;
    }

    int load() {
        const std::string& file = r_.operands.front();
        const panel::FileBytes read = panel::readSettingsFile(file);
        if (!read.ok) {
            out_.fail("cannot open file \"" + file + "\": " + read.error);
            return kExitUsage;
        }
        const panel::ParsedSettings parsed = panel::parseSettingsFile(read.bytes);
        if (!parsed.settings) {
            out_.fail("\"" + file + "\" is not a settings file: " + parsed.problem +
                      "; nothing was sent to the unit");
            return kExitUsage;
        }
        const DeviceSettings loaded = *parsed.settings;
        return write([&loaded](DeviceSettings& s) { s = loaded; });
    }

    int reset() {
        const AnswerBox::Counts seen = c_.answers.counts();
        const LinkState::Ticket ticket = c_.link.post(cmd::kResetDefaults);
        if (c_.link.waitTaken(ticket, c_.answerLimit) != std::optional<bool>(true)) {
            out_.fail("the reset request could not be sent to the unit");
            return kExitUnitFailed;
        }
        if (!c_.answers.waitReset(seen, c_.answerLimit)) {
            out_.fail("the unit did not confirm the reset within " + seconds(c_.answerLimit));
            return kExitUnitFailed;
        }
        if (r_.json) {
            out_.line("{\"reset\":true}");
        } else {
            out_.line("The unit restored its default settings.");
        }
        return kExitDone;
    }

    void progress(int percent) {
        if (percent == lastPercent_) {
            return;
        }
        lastPercent_ = percent;
        if (r_.json) {
            out_.line("{\"progress\":" + std::to_string(percent) + "}");
        } else if (out_.terminal()) {
            constexpr int kWidth = 40;
            const int filled = percent * kWidth / 100;
            out_.write(false, "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                                  std::string(static_cast<std::size_t>(kWidth - filled), ' ') +
                                  "] " + std::to_string(percent) + "%" +
                                  (percent == 100 ? "\n" : ""));
        } else {
            out_.line("progress " + std::to_string(percent) + "%");
        }
    }

    int update() {
        // Whoever takes the link's transfer first runs it: the window's update window, its offer
        // to run an unfinished update again, or another command.
        const std::optional<TransferClaim> claim = TransferClaim::take(c_.link);
        if (!claim) {
            out_.fail("a firmware update is already running");
            return kExitUnitFailed;
        }
        const int result = transfer();
        c_.link.updateInProgress = false;
        return result;
    }

    int transfer() {
        const std::string& file = r_.operands.front();
        const PackageFileRead bytes = readPackageFileBytes(file);
        PackageReadResult read;
        if (bytes.ok) {
            read = readUpdatePackage(bytes.bytes, c_.unit.product);
        } else {
            read.verdict = PackageVerdict::Unreadable;
            read.message = bytes.message;
        }
        if (read.verdict != PackageVerdict::Accepted) {
            out_.fail("\"" + file + "\": " +
                      (read.verdict == PackageVerdict::NameMismatch
                           ? "the package is meant for another model (" +
                                 latin1ToUtf8(read.package.header.name) + ")"
                           : read.message));
            return kExitUsage;
        }
        c_.link.updateInProgress = true;
        // Journalled like the update window's transfers, so that the window can offer an update
        // cut off here to be run again.
        UpdateLog log(c_.journal, nullptr);
        const std::string journalError = log.begin(
            {c_.unit.serial, c_.unit.product, c_.unit.version},
            utf8Text(std::filesystem::absolute(utf8Path(file))), bytes.bytes, read.package);
        if (!journalError.empty()) {
            out_.write(true,
                       "qx77zt: warning: no update journal can be kept: " + journalError + "\n");
        }
        const AnswerBox::Counts seen = c_.answers.counts();
        UpdateRun run(c_.link);
        const RunOutcome outcome =
            run.run(UpdateImages{std::move(read.package.flash), std::move(read.package.eeprom)},
                    [this, &log](int percent) {
                        log.blockDone();
                        progress(percent);
                    });
        if (outcome != RunOutcome::Completed) {
            if (out_.terminal() && lastPercent_ >= 0 && lastPercent_ < 100) {
                out_.write(false, "\n");
            }
            const std::string why = outcome == RunOutcome::TooLarge
                                        ? "the package's images do not fit the unit's memory"
                                        : "update failed: the unit stopped taking the transfer";
            log.end(state::UpdateState::Failed, why);
            out_.fail(why);
            return kExitUnitFailed;
        }
        const std::optional<bool> verdict = c_.answers.waitFinish(seen, c_.verdictLimit);
        if (!verdict) {
            log.end(state::UpdateState::Unconfirmed);
            out_.fail("the unit gave no verdict on the update within " + seconds(c_.verdictLimit));
            return kExitUnitFailed;
        }
        log.end(*verdict ? state::UpdateState::Completed : state::UpdateState::Refused);
        if (!*verdict) {
            out_.fail("the unit reports that the update failed; try again");
            return kExitUnitFailed;
        }
        if (r_.json) {
            out_.line("{\"updated\":true}");
        } else {
            out_.line("Update completed successfully.");
        }
        return kExitDone;
    }

    const CliRequest& r_;
    UnitContext& c_;
    CliOutput& out_;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point lastAnswer_ = std::chrono::steady_clock::now();
};

} // namespace

int runUnitCommand(const CliRequest& request, UnitContext& context, CliOutput& out,
                   std::stop_token stop) {
    return Commands(request, context, out).run(stop);
}

} // namespace qx::cli
