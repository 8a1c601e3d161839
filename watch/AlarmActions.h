// SPDX-License-Identifier: GPL-3.0-or-later
// What is done when an alarm is raised or cleared: the facts handed on, the texts a notice says,
// and the two small interfaces the watch calls (tests give it fakes).
#pragma once

#include "watch/AlarmSettings.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qx::watch {

struct AlarmFacts {
    AlarmKind kind = AlarmKind::Silence;
    bool raised = true;
    // The unit's name (label, else serial) and serial number.
    std::string unit;
    std::string serial;
    std::chrono::system_clock::time_point time;
    // How long the condition had held when raised.
    Millis heldFor{0};
    // Silence: the level and the channels it was judged by.
    double silenceLevelDb = kSummarySilenceDb;
    SilenceChannels silenceChannels = SilenceChannels::Both;
    // Over: which channels were latched (0 left, 1 right).
    std::vector<int> overChannels;
};

// "2026-12-11T14:03:07Z"
std::string isoTime(std::chrono::system_clock::time_point time);
// "raised" or "cleared".
std::string_view stateWord(const AlarmFacts& facts);
// The notice's title: the unit's name.
std::string noticeSummary(const AlarmFacts& facts);
// What happened: "silence on both channels for 10 s (below -50 dB)", "sound is back".
std::string noticeBody(const AlarmFacts& facts);

class AlarmNotifier {
public:
    virtual ~AlarmNotifier() = default;
    // Shows the notice; false when there is no one to show it (said once, not every time).
    virtual bool notify(const AlarmFacts& facts) = 0;
};

class AlarmCommand {
public:
    virtual ~AlarmCommand() = default;
    // Starts `words` (program first) with the facts in its environment, killed past `limit`;
    // returns at once.
    virtual void run(const std::vector<std::string>& words, Millis limit,
                     const AlarmFacts& facts) = 0;
};

} // namespace qx::watch
