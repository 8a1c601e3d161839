// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/SettingsMemory.h"

#include "state/FieldText.h"
#include "state/StateFiles.h"

#include <algorithm>

namespace qx::state {

namespace {

constexpr std::string_view kHeader = "qx77zt unit settings 1";

} // namespace

SettingsParse parseSettingsMemory(std::span<const std::uint8_t> file) {
    SettingsParse out;
    const auto lines = headedLines(
        file, {kMaxSettingsFileSize, kHeader, kRememberedUnits, "a settings memory", "units"},
        out.error);
    if (!lines) {
        return out;
    }
    for (std::size_t i = 1; i < lines->size(); ++i) {
        const auto fields = lineFields((*lines)[i]);
        const auto serial = fields && fields->size() == 2 ? unescapeField((*fields)[0])
                                                          : std::optional<std::string>();
        const auto bytes = serial ? bytesFromHex((*fields)[1], kSettingsSize)
                                  : std::optional<std::vector<std::uint8_t>>();
        if (!bytes || serial->empty() || serial->size() > kMaxSerialLength) {
            out.error = "line " + std::to_string(i + 1) + " is damaged";
            return out;
        }
        const bool repeated =
            std::any_of(out.units.begin(), out.units.end(),
                        [&](const RememberedUnit& u) { return u.serial == *serial; });
        if (repeated) {
            out.error = "line " + std::to_string(i + 1) + " repeats a unit";
            return out;
        }
        out.units.push_back(
            {*serial, settingsFromBytes(std::span<const std::uint8_t, kSettingsSize>(
                          bytes->data(), kSettingsSize))});
    }
    out.ok = true;
    return out;
}

std::string formatSettingsMemory(const std::vector<RememberedUnit>& units) {
    std::string out(kHeader);
    out += '\n';
    for (const RememberedUnit& u : units) {
        out += escapeField(u.serial);
        out += ' ';
        out += hexText(rawBytes(u.settings));
        out += '\n';
    }
    return out;
}

SettingsMemory::SettingsMemory(std::filesystem::path file) : file_(std::move(file)) {}

std::string SettingsMemory::load() {
    std::lock_guard lock(mutex_);
    units_.clear();
    keptBecause_.clear();
    if (file_.empty()) {
        return {};
    }
    const StateLoad loaded =
        loadStateFile(file_, kMaxSettingsFileSize, [this](std::span<const std::uint8_t> bytes) {
            SettingsParse parsed = parseSettingsMemory(bytes);
            if (parsed.ok) {
                units_ = std::move(parsed.units);
            }
            return parsed.error;
        });
    switch (loaded.status) {
    case StateLoad::Status::Missing:
    case StateLoad::Status::Loaded:
        return {};
    case StateLoad::Status::SetAside:
        return "The remembered unit settings in " + file_.string() +
               " are damaged and are ignored: " + loaded.why + ". They were moved to " +
               loaded.aside.string() + ".";
    case StateLoad::Status::Kept:
        break;
    }
    keptBecause_ = loaded.why;
    return "The remembered unit settings in " + file_.string() + " cannot be read and are " +
           "ignored (" + loaded.why + "). The file is left as it is and not written during " +
           "this run.";
}

std::optional<DeviceSettings> SettingsMemory::find(const std::string& serial) const {
    std::lock_guard lock(mutex_);
    for (const RememberedUnit& u : units_) {
        if (u.serial == serial) {
            return u.settings;
        }
    }
    return std::nullopt;
}

std::string SettingsMemory::remember(const std::string& serial, const DeviceSettings& settings) {
    if (serial.empty() || serial.size() > kMaxSerialLength) {
        return {}; // nothing to tell this unit apart by
    }
    // Held over the write too, so that two changes cannot reach the disk in the wrong order.
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(units_.begin(), units_.end(),
                                 [&](const RememberedUnit& u) { return u.serial == serial; });
    if (it != units_.end() && it->settings == settings) {
        return {};
    }
    if (it != units_.end()) {
        units_.erase(it);
    }
    units_.insert(units_.begin(), {serial, settings});
    if (units_.size() > kRememberedUnits) {
        units_.resize(kRememberedUnits);
    }
    if (file_.empty()) {
        return {};
    }
    if (!keptBecause_.empty()) {
        return "the remembered unit settings in " + file_.string() +
               " could not be read and are left as they are (" + keptBecause_ + ")";
    }
    const std::string text = formatSettingsMemory(units_);
    const WriteOutcome w = replaceFile(
        file_, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return w.ok ? std::string() : w.error;
}

} // namespace qx::state
