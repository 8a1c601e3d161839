// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file: the 18 bytes of the settings record and nothing else.
#pragma once

#include "link/DeviceRecords.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx::panel {

// Why `bytes` cannot be taken as settings, or nullopt when they can: exactly 18 bytes, each
// within the range the window shows for its field. A file the program saved always passes, since
// saving checks the record the same way.
std::optional<std::string> settingsProblem(std::span<const uint8_t> bytes);

struct ParsedSettings {
    std::optional<DeviceSettings> settings;
    // Why the bytes were refused; empty when they were taken.
    std::string problem;
};
ParsedSettings parseSettingsFile(std::span<const uint8_t> bytes);

struct FileResult {
    bool ok = false;
    // The system's description of the failure when !ok.
    std::string error;
};

// Creates (or replaces) `path` and writes the record's 18 bytes. Anything but a regular file is
// refused, so that a named pipe cannot block the window.
FileResult writeSettingsFile(const std::string& path, const DeviceSettings& s);

// Reads at most one byte more than a settings record holds: enough to tell a longer file, without
// ever reading a large one into memory. Anything but a regular file is refused.
struct FileBytes : FileResult {
    std::vector<uint8_t> bytes;
};
FileBytes readSettingsFile(const std::string& path);

} // namespace qx::panel
