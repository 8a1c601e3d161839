// SPDX-License-Identifier: GPL-3.0-or-later
// What the operator chose about alarms: which are on and how soon they speak, overrides for single
// units, what is done when one is raised or cleared, and how much of the event log is kept.
// Plain records, plain C++.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::watch {

enum class AlarmKind { Silence, Over, Lost, BootLoader };
inline constexpr std::size_t kAlarmKinds = 4;
inline constexpr std::array<AlarmKind, kAlarmKinds> kAllAlarms = {
    AlarmKind::Silence, AlarmKind::Over, AlarmKind::Lost, AlarmKind::BootLoader};

inline constexpr std::size_t indexOf(AlarmKind kind) {
    return static_cast<std::size_t>(kind);
}
// "silence", "over", "lost", "boot-loader": the config file's and the log's word.
std::string_view alarmWord(AlarmKind kind);
std::optional<AlarmKind> alarmFromWord(std::string_view word);

using Millis = std::chrono::milliseconds;

// The meters read from -52 to 8 dB.
inline constexpr double kLowestLevelDb = -52;
inline constexpr double kHighestLevelDb = 8;
// Silence is counted below this in the minute summaries when the silence alarm is off.
inline constexpr double kSummarySilenceDb = -50;

enum class SilenceChannels { Both, Either };

struct AlarmRule {
    bool on = false;
    // How long the condition must hold before the alarm is raised.
    Millis after{0};
    // How long the condition must be gone before a raised alarm clears.
    Millis clear{0};
    friend bool operator==(const AlarmRule&, const AlarmRule&) = default;
};

// The rules every unit follows, or one unit once its overrides are applied.
struct AlarmRules {
    std::array<AlarmRule, kAlarmKinds> rule = {
        AlarmRule{false, Millis(10'000), Millis(2'000)}, // silence
        AlarmRule{false, Millis(0), Millis(0)},          // over: cleared with its latch
        AlarmRule{false, Millis(5'000), Millis(2'000)},  // lost
        AlarmRule{false, Millis(30'000), Millis(0)},     // boot loader
    };
    double silenceLevelDb = -50;
    SilenceChannels silenceChannels = SilenceChannels::Both;

    AlarmRule& operator[](AlarmKind kind) { return rule[indexOf(kind)]; }
    const AlarmRule& operator[](AlarmKind kind) const { return rule[indexOf(kind)]; }
    friend bool operator==(const AlarmRules&, const AlarmRules&) = default;
};

// One unit's departures from the common rules; what is not given follows them.
struct RuleOverride {
    std::optional<bool> on;
    std::optional<Millis> after;
    std::optional<Millis> clear;
    friend bool operator==(const RuleOverride&, const RuleOverride&) = default;
};

struct UnitOverride {
    // The unit's serial or its label.
    std::string unit;
    std::array<RuleOverride, kAlarmKinds> rule;
    std::optional<double> silenceLevelDb;
    std::optional<SilenceChannels> silenceChannels;
    friend bool operator==(const UnitOverride&, const UnitOverride&) = default;
};

struct AlarmActions {
    // A desktop notification on every raise and clear.
    bool notify = true;
    // The operator's command as its words (program first); empty: none.
    std::vector<std::string> command;
    // The command is killed when it runs longer.
    Millis commandLimit{10'000};
    friend bool operator==(const AlarmActions&, const AlarmActions&) = default;
};

struct LogLimits {
    int maxDays = 366;
    std::uint64_t maxBytes = 512ULL * 1024 * 1024;
    friend bool operator==(const LogLimits&, const LogLimits&) = default;
};

struct AlarmSettings {
    AlarmRules rules;
    std::vector<UnitOverride> overrides;
    AlarmActions actions;
    LogLimits log;

    // The rules of the unit with this serial and label: the common ones, then an override
    // naming its serial, then one naming its label (the operator's name wins).
    AlarmRules rulesFor(std::string_view serial, std::string_view label) const;
    friend bool operator==(const AlarmSettings&, const AlarmSettings&) = default;
};

} // namespace qx::watch
