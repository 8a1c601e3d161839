// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventLog.h"

#include "eventlog/AppendFile.h"
#include "eventlog/EventJson.h"
#include "eventlog/LogFiles.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qx::eventlog {

namespace {

struct QueuedLine {
    std::chrono::sys_days day;
    std::string text; // with its newline
};

} // namespace

struct EventLog::Shared {
    std::filesystem::path folder;
    EventLogOptions options;

    // Guards everything below up to the thread; the thread alone touches the writer's state.
    mutable std::mutex mutex;
    std::condition_variable wake;     // a line queued, or stopping
    std::condition_variable progress; // lines done
    std::deque<QueuedLine> queue;
    std::uint64_t queued = 0; // lines ever accepted into the queue
    std::uint64_t done = 0;   // of those, lines written or given up
    std::uint64_t written = 0;
    std::uint64_t dropped = 0;
    std::uint64_t droppedUntold = 0; // refused by record(), not yet told
    bool stopping = false;
    bool started = false; // the folder made and cleaned up at start

    // The writer's own state (its thread only).
    AppendFile file;
    std::optional<std::chrono::sys_days> fileDay;
    std::optional<std::chrono::sys_days> newestDay; // newest day cleaned up for
    bool needNewline = false;                       // the file may end in a torn line
    bool told = false;                              // a problem was told since the last line
    bool overSize = false;                          // today's file has reached maxBytes
    std::uint64_t totalBytes = 0;                   // all daily files, as last counted

    std::thread thread;

    void tell(const std::string& problem) {
        if (!told && options.onError) {
            options.onError(problem);
        }
        told = true;
    }

    void cleanUp(std::chrono::sys_days today, std::uint64_t room = 0) {
        const Pruned pruned = pruneDailyFiles(
            folder, today, options.limits, fileDay ? dailyFileName(*fileDay) : std::string(), room);
        totalBytes = pruned.bytesLeft;
        if (!pruned.error.empty()) {
            tell(pruned.error);
        }
    }

    // Opens the file of `day`, cleaning up first when the day is new.
    bool openDay(std::chrono::sys_days day) {
        std::string error;
        if (file.isOpen()) {
            if (!file.sync(error)) {
                tell(error);
            }
            file.close();
        }
        fileDay.reset();
        if (!makePrivateFolder(folder, error)) {
            tell(error);
            return false;
        }
        if (!newestDay || day > *newestDay) {
            newestDay = day;
            overSize = false;
            cleanUp(day);
        }
        if (!file.open(folder / dailyFileName(day), error)) {
            tell(error);
            return false;
        }
        fileDay = day;
        needNewline = !file.endedWithNewline();
        return true;
    }

    // One line to its day's file; false when it was not written.
    bool writeLine(const QueuedLine& line, bool& toSync) {
        if (!fileDay || *fileDay != line.day) {
            if (toSync) {
                std::string error;
                if (!file.sync(error)) {
                    tell(error);
                }
                toSync = false;
            }
            if (!openDay(line.day)) {
                return false;
            }
        }
        if (overSize) {
            return false;
        }
        const std::uint64_t adding = line.text.size() + (needNewline ? 1 : 0);
        if (totalBytes + adding > options.limits.maxBytes) {
            cleanUp(std::max(line.day, newestDay.value_or(line.day)), adding);
            if (file.size() + adding > options.limits.maxBytes) {
                if (!overSize) {
                    told = false; // a new kind of trouble, told even after another
                    tell("the event log has reached its size limit (" +
                         std::to_string(options.limits.maxBytes) +
                         " bytes): no more events are kept today");
                }
                overSize = true;
                return false;
            }
        }
        std::string error;
        const std::uint64_t before = file.size();
        bool ok;
        if (needNewline) {
            ok = file.append("\n" + line.text, error);
        } else {
            ok = file.append(line.text, error);
        }
        totalBytes += file.size() - before;
        if (!ok) {
            // Part of it may be there: the next line starts on a line of its own.
            if (file.size() != before) {
                needNewline = true;
            }
            tell(error);
            return false;
        }
        needNewline = false;
        toSync = true;
        return true;
    }

    void run() {
        {
            std::string error;
            if (!makePrivateFolder(folder, error)) {
                tell(error);
            } else {
                const TimePoint now = options.now ? options.now() : Clock::now();
                newestDay = utcDay(now);
                cleanUp(*newestDay);
            }
        }
        {
            std::lock_guard lock(mutex);
            started = true;
        }
        progress.notify_all();
        std::vector<QueuedLine> batch;
        while (true) {
            std::uint64_t untold = 0;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return stopping || !queue.empty() || droppedUntold; });
                if (queue.empty() && stopping && droppedUntold == 0) {
                    break;
                }
                const std::size_t n = std::min(queue.size(), kBatchLines);
                batch.assign(std::make_move_iterator(queue.begin()),
                             std::make_move_iterator(queue.begin() + static_cast<long>(n)));
                queue.erase(queue.begin(), queue.begin() + static_cast<long>(n));
                untold = std::exchange(droppedUntold, 0);
            }
            if (untold > 0) {
                told = false;
                tell(std::to_string(untold) +
                     " events were not logged: the disk does not keep up with them");
            }
            std::uint64_t ok = 0;
            bool toSync = false;
            for (const QueuedLine& line : batch) {
                if (writeLine(line, toSync)) {
                    ++ok;
                }
            }
            if (toSync) {
                std::string error;
                if (!file.sync(error)) {
                    tell(error);
                    ok = 0;
                } else if (ok > 0) {
                    told = false; // written again: the next problem is told
                }
            }
            {
                std::lock_guard lock(mutex);
                done += batch.size();
                written += ok;
                dropped += batch.size() - ok;
            }
            progress.notify_all();
            batch.clear();
        }
        std::string error;
        if (!file.sync(error)) {
            tell(error);
        }
        file.close();
    }
};

EventLog::EventLog(std::filesystem::path folder, EventLogOptions options)
    : shared_(std::make_unique<Shared>()) {
    shared_->folder = std::move(folder);
    shared_->options = std::move(options);
    shared_->thread = std::thread([s = shared_.get()] { s->run(); });
}

EventLog::~EventLog() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake.notify_one();
    shared_->thread.join();
}

void EventLog::record(const watch::Event& event) {
    QueuedLine line{utcDay(event.time), formatEventLine(event) + "\n"};
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->queue.size() >= shared_->options.maxQueuedLines) {
            ++shared_->dropped;
            ++shared_->droppedUntold;
            return;
        }
        shared_->queue.push_back(std::move(line));
        ++shared_->queued;
    }
    shared_->wake.notify_one();
}

void EventLog::flush() {
    std::unique_lock lock(shared_->mutex);
    const std::uint64_t target = shared_->queued;
    shared_->progress.wait(lock, [&] { return shared_->started && shared_->done >= target; });
}

const std::filesystem::path& EventLog::folder() const {
    return shared_->folder;
}

EventLog::Counts EventLog::counts() const {
    std::lock_guard lock(shared_->mutex);
    return {shared_->written, shared_->dropped};
}

} // namespace qx::eventlog
