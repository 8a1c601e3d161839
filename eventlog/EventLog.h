// SPDX-License-Identifier: GPL-3.0-or-later
// The event log: every event as one JSON line (eventlog/EventJson.h) in a file per UTC day,
// "events-YYYY-MM-DD.jsonl", in a folder of its own (owner-only).
//
// record() only queues the line; a thread of the log's own appends it, each line in one write,
// and flushes the file to the disk (fdatasync) before it reports the lines written. The lines
// queued while it flushes go out together next, and are flushed together: a power cut loses
// at most the lines being written at that moment (normally one; at most kBatchLines in a burst)
// and leaves at most the last line torn, which the reader skips. A file found cut off in the
// middle of a line gets a newline first, so the next line is whole.
//
// Bounded: at start and whenever the day changes, the oldest daily files go until at most
// maxDays days (today's included) and maxBytes in all are left; the day's own file is never
// removed, and once it alone would pass maxBytes further lines are dropped until the next day.
//
// Plain C++ without Qt.
#pragma once

#include "eventlog/EventTime.h"
#include "watch/Event.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace qx::eventlog {

struct LogLimits {
    int maxDays = 366;
    std::uint64_t maxBytes = 512ull * 1024 * 1024;
};

struct EventLogOptions {
    LogLimits limits;
    // Told what went wrong (the folder cannot be made or written, the disk is full, a daily
    // file is a link): once, until a line has been written again. Called on the log's own
    // thread; hand it to the thread that shows it.
    std::function<void(const std::string& problem)> onError;
    // The time at start, for the first clean-up (tests use a fixed day).
    std::function<TimePoint()> now;
    // Lines queued and not yet written past which new ones are dropped (and that told through
    // onError): a disk that hangs does not make the program grow without end.
    std::size_t maxQueuedLines = 20000;
};

// The most lines written between two flushes to the disk.
inline constexpr std::size_t kBatchLines = 64;

class EventLog final : public watch::EventSink {
public:
    // Starts the log's thread, which makes `folder` and cleans up old files; nothing waits on it.
    explicit EventLog(std::filesystem::path folder, EventLogOptions options = {});
    // Writes and flushes what was queued, then ends the thread.
    ~EventLog() override;
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Any thread; never waits on the disk.
    void record(const watch::Event& event) override;
    // Waits until the clean-up at start is done and every line recorded before the call is on
    // the disk (or failed, and told).
    void flush();

    const std::filesystem::path& folder() const;

    struct Counts {
        std::uint64_t written = 0; // lines on the disk
        std::uint64_t dropped = 0; // lines not written: queue full, a failure, the size bound
    };
    Counts counts() const;

private:
    struct Shared;
    std::unique_ptr<Shared> shared_;
};

} // namespace qx::eventlog
