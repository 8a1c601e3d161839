// SPDX-License-Identifier: GPL-3.0-or-later
// When each alarm of each unit is raised and cleared, from samples of the unit's state: a pure
// state machine, time passed in with every sample, so that tables of cases run on a made-up
// clock. Plain C++.
//
// An alarm is raised once its condition has held for the rule's hold-off, and stays raised (it
// is not raised again on every sample) until the condition has been gone for the rule's clear
// time. Some conditions cannot be judged for a while; the alarm then pauses: neither raised nor
// cleared, and its hold-off or clear time counts afresh once the condition can be judged again:
//  - silence, while the unit is lost, in its boot loader, under an update, or has sent no
//    levels yet: the lost and boot-loader alarms speak for it then, and a unit that just came
//    back gets its whole hold-off before it is called silent;
//  - lost and boot loader, while an update runs (the unit leaves the bus and restarts in its
//    boot loader as part of it).
// The over alarm follows the latch, which is kept while a unit is away, and never pauses.
// An alarm whose rule is turned off clears at once.
#pragma once

#include "watch/AlarmSettings.h"

#include <array>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qx::watch {

using MonoClock = std::chrono::steady_clock;

// The state of a unit in the terms the alarms need.
enum class UnitCondition {
    Answering,
    // Unplugged, not answering, or no longer usable after it was connected.
    Lost,
    BootLoader,
    // Anything else (never usable in this run): no alarm but the over alarm applies.
    Other,
};

struct UnitSample {
    MonoClock::time_point time;
    UnitCondition condition = UnitCondition::Answering;
    // The latest reading of each channel in dB; nullopt while there is none.
    std::optional<double> leftDb;
    std::optional<double> rightDb;
    // Either channel's over latch is set.
    bool overLatched = false;
    // A firmware update is under way (a transfer runs or the update window waits on the unit).
    bool updating = false;
};

struct AlarmTransition {
    AlarmKind kind = AlarmKind::Silence;
    bool raised = false;
    MonoClock::time_point at;
    // When the condition began (raised) or ended (cleared); `at` for an alarm turned off.
    MonoClock::time_point since;
};

class AlarmEngine {
public:
    // Feeds one sample of the unit known by `unit` under `rules`; returns what changed, in the
    // order of AlarmKind.
    std::vector<AlarmTransition> feed(const std::string& unit, const AlarmRules& rules,
                                      const UnitSample& sample);
    // Takes an alarm as raised without a transition (it was raised before a restart), so that
    // it is cleared when its condition is gone rather than raised twice.
    void setRaised(const std::string& unit, AlarmKind kind);
    bool raised(const std::string& unit, AlarmKind kind) const;
    // Every raised alarm, by unit.
    std::vector<std::pair<std::string, AlarmKind>> raisedAlarms() const;

private:
    struct Track {
        bool raised = false;
        std::optional<MonoClock::time_point> heldSince;
        std::optional<MonoClock::time_point> goneSince;
    };
    std::map<std::string, std::array<Track, kAlarmKinds>> units_;
};

// Whether the levels are silent under the rules: below the level on both channels, or on
// either; nullopt while a channel has no reading.
std::optional<bool> silentLevels(std::optional<double> leftDb, std::optional<double> rightDb,
                                 double levelDb, SilenceChannels channels);

} // namespace qx::watch
