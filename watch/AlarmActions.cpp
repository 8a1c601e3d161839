// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/AlarmActions.h"

#include "watch/AlarmConfig.h"

#include <algorithm>
#include <cstdio>

namespace qx::watch {

namespace {

// "10 s", "2 min", "1 h 30 min", "500 ms"
std::string spanText(Millis d) {
    using namespace std::chrono;
    const auto ms = d.count();
    if (ms < 1000) {
        return std::to_string(ms) + " ms";
    }
    const auto s = ms / 1000;
    if (s < 120) {
        return std::to_string(s) + " s";
    }
    const auto min = s / 60;
    if (min < 120) {
        return std::to_string(min) + " min";
    }
    const auto h = min / 60;
    return std::to_string(h) + " h" + (min % 60 ? " " + std::to_string(min % 60) + " min" : "");
}

std::string channelsText(const std::vector<int>& channels) {
    const bool left = std::find(channels.begin(), channels.end(), 0) != channels.end();
    const bool right = std::find(channels.begin(), channels.end(), 1) != channels.end();
    if (left && right) {
        return "on both channels";
    }
    if (left) {
        return "on the left channel";
    }
    if (right) {
        return "on the right channel";
    }
    return {};
}

} // namespace

std::string isoTime(std::chrono::system_clock::time_point time) {
    // The calendar of the standard library: the same on every system, no C time functions.
    using namespace std::chrono;
    const auto secondsSince = floor<seconds>(time);
    const auto day = floor<days>(secondsSince);
    const year_month_day date{day};
    const hh_mm_ss clock{secondsSince - day};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()));
    return buffer;
}

std::string_view stateWord(const AlarmFacts& facts) {
    return facts.raised ? "raised" : "cleared";
}

std::string noticeSummary(const AlarmFacts& facts) {
    return facts.unit;
}

std::string noticeBody(const AlarmFacts& facts) {
    switch (facts.kind) {
    case AlarmKind::Silence:
        if (!facts.raised) {
            return "sound is back";
        }
        return std::string("silence on ") +
               (facts.silenceChannels == SilenceChannels::Both ? "both channels" : "a channel") +
               " for " + spanText(facts.heldFor) + " (below " + levelText(facts.silenceLevelDb) +
               " dB)";
    case AlarmKind::Over: {
        if (!facts.raised) {
            return "over acknowledged";
        }
        const std::string where = channelsText(facts.overChannels);
        return where.empty() ? "over" : "over " + where;
    }
    case AlarmKind::Lost:
        return facts.raised ? "unplugged or not answering for " + spanText(facts.heldFor)
                            : "answering again";
    case AlarmKind::BootLoader:
        return facts.raised ? "in its boot loader for " + spanText(facts.heldFor) +
                                  ", with no update under way"
                            : "out of its boot loader";
    }
    return {};
}

} // namespace qx::watch
