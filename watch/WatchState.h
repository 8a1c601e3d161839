// SPDX-License-Identifier: GPL-3.0-or-later
// The alarms raised when the watch last looked, kept in the state folder ("watch-state") so that
// a restart, or the units' hand-over between the monitor and the window program, neither forgets
// an alarm nor raises it twice. Plain C++.
#pragma once

#include "watch/AlarmSettings.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx::watch {

inline constexpr const char* kWatchStateName = "watch-state";
inline constexpr std::size_t kMaxWatchStateBytes = 64 * 1024;
inline constexpr std::size_t kMaxRaisedAlarms = 256;

struct RaisedAlarm {
    // The unit's key text (its serial, with where it is plugged when two share one).
    std::string unit;
    AlarmKind kind = AlarmKind::Silence;
    std::chrono::system_clock::time_point since;
    friend bool operator==(const RaisedAlarm&, const RaisedAlarm&) = default;
};

std::string formatWatchState(const std::vector<RaisedAlarm>& alarms);
struct WatchStateParse {
    bool ok = false;
    std::vector<RaisedAlarm> alarms;
    std::string error;
};
WatchStateParse parseWatchState(std::span<const std::uint8_t> file);

struct WatchStateLoad {
    std::vector<RaisedAlarm> alarms;
    // Why the file was not used (it was damaged and set aside, or unreadable); empty otherwise.
    std::string problem;
};
WatchStateLoad loadWatchState(const std::filesystem::path& path);
// Replaces the file atomically; empty on success, else why not.
std::string saveWatchState(const std::filesystem::path& path,
                           const std::vector<RaisedAlarm>& alarms);

} // namespace qx::watch
