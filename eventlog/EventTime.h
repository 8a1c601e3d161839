// SPDX-License-Identifier: GPL-3.0-or-later
// Times as the event log writes them (UTC, ISO 8601 with milliseconds), the daily files' names,
// and the times an operator types (an ISO date or date and time, or "2h", "30m", "3d" ago).
//
// Plain C++ without Qt.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace qx::eventlog {

using Clock = std::chrono::system_clock;
using TimePoint = Clock::time_point;

// "2026-12-11T03:12:45.120Z": the UTC time, to the millisecond (truncated).
std::string formatUtc(TimePoint time);
// Reads what formatUtc writes (1 to 9 fraction digits, or none); nullopt for anything else,
// including dates that do not exist.
std::optional<TimePoint> parseUtc(std::string_view text);

// The UTC day a time falls on.
std::chrono::sys_days utcDay(TimePoint time);
// "events-2026-12-11.jsonl".
std::string dailyFileName(std::chrono::sys_days day);
// The day a daily file holds; nullopt when `name` is not one.
std::optional<std::chrono::sys_days> dayOfFileName(std::string_view name);

// "2026-12-11 04:12:45" in this computer's time zone (the TZ environment variable).
std::string formatLocal(TimePoint time);

// What an operator gives for "since" or "until": "2h", "30m", "45s", "3d", "2w" before `now`,
// or an ISO date ("2026-12-11"), date and time ("2026-12-11T04:00", "2026-12-11 04:00:30",
// fraction allowed), in local time unless it ends in "Z" or "+01:00"/"-0500". nullopt when it is
// none of these.
std::optional<TimePoint> parseUserTime(std::string_view text, TimePoint now);

} // namespace qx::eventlog
