// SPDX-License-Identifier: GPL-3.0-or-later
// The settings as the command line names them: one key per control of the main window, with the
// values written as the window shows them ("SDI #2", "-6", "dBFS", "100%").
#pragma once

#include "link/DeviceRecords.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::cli {

// Every key `set` takes, in the order `get` lists them.
const std::vector<std::string>& settingKeys();

// One KEY=VALUE argument, checked. Applying it later (on the record as it is then) lets
// `source.left` follow a `preset` given before it in the same command.
struct SettingChange {
    std::string key;
    std::string value;
};

struct ParsedChange {
    std::optional<SettingChange> change;
    std::string error; // why the argument was refused, when !change
};
ParsedChange parseSettingArgument(std::string_view argument);

// Applies a checked change to the record.
void applySettingChange(const SettingChange& change, DeviceSettings& s);

// The record as key and shown value, in settingKeys() order. A byte outside the window's
// choices is shown as "unknown (N)".
struct ShownSetting {
    std::string key;
    std::string value;
};
std::vector<ShownSetting> showSettings(const DeviceSettings& s);

// The same as one JSON object: numbers for the preset and gains, true/false for the on/off
// buttons, the shown text for the rest.
std::string settingsJson(const DeviceSettings& s);

// The reading the window shows next to a bar ("-52" to "8"), or "over" above its table.
std::string levelReading(int level);

} // namespace qx::cli
