// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the event log back: the daily files oldest first, each line checked by the line parser;
// a torn or damaged line is skipped and counted, never trusted. The events are handed to a
// callback one at a time, so a year's log is read in little memory; the files of days outside
// the wanted times are not opened at all.
//
// Plain C++ without Qt.
#pragma once

#include "eventlog/EventTime.h"
#include "watch/Event.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace qx::eventlog {

struct EventFilter {
    // A unit's serial number or name, either regardless of case (ASCII letters); empty: all.
    std::string unit{};
    // The kinds wanted (watch::kind); empty: all.
    std::vector<std::string> kinds{};
    std::optional<TimePoint> since{}; // from this time on
    std::optional<TimePoint> until{}; // before this time

    bool matches(const watch::Event& event) const;
    bool matchesUnit(const watch::Event& event) const;
    bool matchesKind(const watch::Event& event) const;
    bool matchesTime(TimePoint time) const;
};

// Where a read ended: just past the last whole line of the newest file it read. Reading again
// from there gives only what was added since.
struct LogPosition {
    std::chrono::sys_days day{};
    std::uint64_t offset = 0;

    friend bool operator==(const LogPosition&, const LogPosition&) = default;
};

struct ReadSummary {
    std::uint64_t files = 0;           // daily files read
    std::uint64_t bytes = 0;           // bytes read
    std::uint64_t lines = 0;           // whole lines understood
    std::uint64_t matched = 0;         // of those, handed to the callback
    std::uint64_t damaged = 0;         // whole lines not understood (or too long), skipped
    std::uint64_t torn = 0;            // last lines without their newline (cut off), skipped
    std::vector<std::string> problems; // files that could not be read, and why
    std::optional<LogPosition> end;    // none when no file was read
    bool stopped = false;              // the callback or the stop token ended it early
};

struct ReadOptions {
    // Start here instead of at the oldest file (following the log as it grows).
    std::optional<LogPosition> from;
    std::stop_token stop;
    // Told now and then how far the read has come, in bytes of the files it reads.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

class EventReader {
public:
    explicit EventReader(std::filesystem::path folder);

    // Return false to stop the read. `line` is the event's line as stored.
    using Visitor = std::function<bool(const watch::Event& event, std::string_view line)>;

    // Every event that `filter` lets through, oldest file first and in the order written.
    ReadSummary read(const EventFilter& filter, const Visitor& visit,
                     const ReadOptions& options = {}) const;

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

// Lower-cased ASCII letters, the rest as it is.
std::string asciiLower(std::string_view text);

} // namespace qx::eventlog
