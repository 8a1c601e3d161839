// SPDX-License-Identifier: GPL-3.0-or-later
// The last settings record each unit confirmed, by serial number, kept between runs so that an
// update that resets the unit's settings can give them back.
//
// File: the line "qx77zt unit settings 1", then one line per unit, newest first:
// <serial, escaped> <the 18 settings bytes in hexadecimal>.
#pragma once

#include "link/DeviceRecords.h"

#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx::state {

inline constexpr std::size_t kRememberedUnits = 32;
inline constexpr std::size_t kMaxSerialLength = 255;
// Room for kRememberedUnits lines of the longest serial, escaped.
inline constexpr std::size_t kMaxSettingsFileSize = 64 * 1024;
inline constexpr const char* kSettingsFileName = "unit-settings";

struct RememberedUnit {
    std::string serial;
    DeviceSettings settings;
    friend bool operator==(const RememberedUnit&, const RememberedUnit&) = default;
};

struct SettingsParse {
    bool ok = false;
    std::vector<RememberedUnit> units;
    std::string error; // what is wrong when !ok
};

SettingsParse parseSettingsMemory(std::span<const std::uint8_t> file);
std::string formatSettingsMemory(const std::vector<RememberedUnit>& units);

class SettingsMemory {
public:
    // An empty path keeps everything in memory only.
    explicit SettingsMemory(std::filesystem::path file);

    // Reads the file. Returns a message for the operator when it is damaged or unreadable (its
    // contents are then ignored); empty otherwise. A damaged file is moved aside, under a name no
    // earlier damaged copy has, and the next change writes a new one; one that cannot be read is
    // left as it is and not written until the next load(): changes are then kept in memory only.
    std::string load();
    std::optional<DeviceSettings> find(const std::string& serial) const;
    // Keeps `settings` as what `serial` confirmed last; writes the file only when that changes
    // the record. Returns the write's failure, empty when written or unchanged.
    std::string remember(const std::string& serial, const DeviceSettings& settings);
    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::vector<RememberedUnit> units_; // guarded by mutex_; newest first
    // Why the file was left as it is; empty when it may be written. Guarded by mutex_.
    std::string keptBecause_;
};

} // namespace qx::state
