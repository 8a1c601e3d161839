// SPDX-License-Identifier: GPL-3.0-or-later
// The journal of firmware updates: which package went to which unit, how far the transfer got
// and how it ended, kept between runs so that an update cut off half-way can be finished.
//
// File: the line "qx77zt update journal 1", then one line per update, oldest first, starting
// with "entry" and holding the fields of JournalEntry in their order (texts escaped, the
// snapshot "-" when there is none).
#pragma once

#include "link/DeviceRecords.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace qx::state {

inline constexpr std::size_t kJournalEntries = 8;
inline constexpr std::size_t kMaxJournalText = 255;
inline constexpr std::size_t kMaxJournalPath = 4096;
inline constexpr std::size_t kMaxJournalFileSize = 128 * 1024;
inline constexpr const char* kJournalFileName = "update-journal";

enum class UpdateState {
    Running,     // started and not ended: cut off, if no run is under way
    Failed,      // a block or the finish request could not be sent (`message` says which)
    Unconfirmed, // everything was sent, but the unit gave no verdict
    Refused,     // the unit's verdict: the update failed
    Completed,   // the unit's verdict: the update took
};

const char* stateName(UpdateState state);
// Whether the unit may be left with part of this update: worth running again.
constexpr bool unfinished(UpdateState state) {
    return state != UpdateState::Completed;
}

struct JournalEntry {
    std::uint64_t id = 0;
    std::int64_t started = 0; // seconds since 1970
    std::string serial;
    std::string unitName;
    std::string unitVersion;
    std::string packagePath;
    std::uint64_t packageSize = 0;
    std::string packageSha256; // 64 lower-case hexadecimal digits
    std::string packageName;
    std::string packageVersion;
    // What the unit last confirmed in normal mode before the update, if it was ever seen so.
    std::optional<DeviceSettings> snapshot;
    std::uint32_t blocksDone = 0;
    std::uint32_t blocksTotal = 0;
    UpdateState state = UpdateState::Running;
    std::string message;
    std::int64_t ended = 0; // 0 while running
    // The settings were compared with the snapshot once the unit came back (and offered back
    // when they differed): nothing more to do for this entry.
    bool settingsSettled = false;

    friend bool operator==(const JournalEntry&, const JournalEntry&) = default;
};

struct JournalParse {
    bool ok = false;
    std::vector<JournalEntry> entries;
    std::string error;
};

JournalParse parseJournal(std::span<const std::uint8_t> file);
std::string formatJournal(const std::vector<JournalEntry>& entries);

// The journal file and its entries. Safe to use from any thread: every change is written at once,
// one write at a time, in the order the changes were made.
class UpdateJournal {
public:
    // An empty path keeps the journal in memory only.
    explicit UpdateJournal(std::filesystem::path file);

    // Reads the file; the returned message says what went wrong (empty when nothing did). A
    // damaged file is moved aside, under a name no earlier damaged copy has, and ignored. One
    // that cannot be read (no permission, an I/O error, a symbolic link, not a file) is left as
    // it is, since it may hold a cut-off update: until the next load() nothing is written over
    // it, and every change is kept in memory only and reports that it was not written.
    std::string load();
    std::vector<JournalEntry> entries() const; // oldest first
    std::optional<JournalEntry> latestFor(const std::string& serial) const;

    struct Added {
        std::uint64_t id = 0;
        std::string error; // the write failed; the entry is kept in memory all the same
    };
    // Adds `entry` with a new id, dropping the oldest beyond kJournalEntries, and writes.
    Added add(JournalEntry entry);
    // Changes the entry `id` (if still kept) and writes; returns the write's failure.
    std::string change(std::uint64_t id, const std::function<void(JournalEntry&)>& edit);
    // Removes the entry `id` and writes; returns the write's failure.
    std::string drop(std::uint64_t id);
    const std::filesystem::path& file() const { return file_; }

private:
    std::string writeLocked();

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::vector<JournalEntry> entries_; // guarded by mutex_
    // Why the file was left as it is; empty when it may be written. Guarded by mutex_.
    std::string keptBecause_;
};

// Records a transfer's progress in the journal from a thread of its own, at most once per
// `interval`, so that the transfer never waits for the disk. A failed write is kept for the
// caller to report; it does not stop anything.
class ProgressRecorder {
public:
    ProgressRecorder(UpdateJournal& journal, std::uint64_t id,
                     std::chrono::milliseconds interval = std::chrono::milliseconds(500));
    // Writes the last count given, then stops.
    ~ProgressRecorder();
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;

    // Any thread; returns at once.
    void blocksDone(std::uint32_t blocks);
    std::string lastError() const;

private:
    void loop();

    UpdateJournal& journal_;
    const std::uint64_t id_;
    const std::chrono::milliseconds interval_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint32_t blocks_ = 0; // guarded by mutex_
    bool stopping_ = false;    // guarded by mutex_
    bool unwritten_ = false;   // guarded by mutex_
    std::string lastError_;    // guarded by mutex_
    std::thread thread_;       // last: starts after the members it uses
};

} // namespace qx::state
