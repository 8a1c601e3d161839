// SPDX-License-Identifier: GPL-3.0-or-later
#include "diag/TrafficRecorder.h"

#include "diag/RecordingFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include <pthread.h>
#include <unistd.h>

namespace qx {

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto n = ::write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Room kept free under the bound: the last line saying that it was reached, and before it the
// longest line saying that reports were dropped.
uint64_t reserveFor(uint64_t limit) {
    return formatLimitLine(limit).size() +
           formatDroppedLine(std::numeric_limits<uint64_t>::max()).size();
}

} // namespace

TrafficRecorder::TrafficRecorder(std::size_t queueCapacity, Writer writer)
    : capacity_(std::max<std::size_t>(queueCapacity, 1)),
      writer_(writer ? std::move(writer) : Writer(writeAll)) {}

TrafficRecorder::~TrafficRecorder() {
    {
        std::lock_guard lock(mutex_);
        accepting_ = false;
        if (fd_ >= 0) {
            closeRequested_ = true;
        }
        quit_ = true;
    }
    work_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::string TrafficRecorder::start(const std::string& path, const RecordingHeader& header,
                                   uint64_t limitBytes) {
    stop(); // a recording that runs ends before the next one starts
    {
        // Its file is closed by the recorder's thread once what was queued is written: at once,
        // unless the medium is stuck, and then the next recording has to wait for it.
        std::unique_lock lock(mutex_);
        if (!written_.wait_for(lock, kCloseWait, [&] { return fd_ < 0; })) {
            return "the last recording, " + state_.path + ", is still being written";
        }
    }
    // Opened here, not on the recorder's thread, so that a name that cannot be recorded into is
    // told at once; the open never waits on what the name is.
    std::string error;
    const int fd = openRecordingFile(path, error);
    if (fd < 0) {
        return "cannot create " + path + ": " + error;
    }
    std::string head = formatRecordingHeader(header);
    {
        std::lock_guard lock(mutex_);
        fd_ = fd;
        startedAt_ = Clock::now();
        // Room for the header and the last lines, whatever the bound.
        limit_ = std::max<uint64_t>(limitBytes, head.size() + reserveFor(limitBytes));
        header_ = std::move(head);
        droppedPending_ = 0;
        ++queuedSeq_;
        accepting_ = true;
        state_ = State{};
        state_.recording = true;
        state_.writing = true;
        state_.path = path;
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
    }
    work_.notify_all();
    return {};
}

void TrafficRecorder::stop() {
    {
        std::lock_guard lock(mutex_);
        if (!accepting_) {
            return;
        }
        accepting_ = false;
        state_.recording = false;
        closeRequested_ = true;
        ++queuedSeq_;
    }
    work_.notify_all();
}

bool TrafficRecorder::waitWritten(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const uint64_t target = queuedSeq_;
    return written_.wait_for(lock, timeout, [&] { return writtenSeq_ >= target; });
}

TrafficRecorder::State TrafficRecorder::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void TrafficRecorder::sent(std::span<const uint8_t> report) {
    record(TrafficDirection::Sent, report);
}

void TrafficRecorder::refused(std::span<const uint8_t> report) {
    record(TrafficDirection::Refused, report);
}

void TrafficRecorder::received(std::span<const uint8_t> report) {
    record(TrafficDirection::Received, report);
}

void TrafficRecorder::record(TrafficDirection direction, std::span<const uint8_t> report) {
    {
        std::lock_guard lock(mutex_);
        if (!accepting_) {
            return;
        }
        if (queue_.size() >= capacity_) {
            ++droppedPending_;
            ++state_.dropped;
            return;
        }
        // Read under the lock: two threads recording at once queue their reports in the order
        // of their times.
        const Clock::time_point now = Clock::now();
        Queued q;
        q.report.direction = direction;
        q.report.micros = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(now - startedAt_).count());
        std::copy_n(report.begin(), std::min(report.size(), q.report.bytes.size()),
                    q.report.bytes.begin());
        q.droppedBefore = std::exchange(droppedPending_, 0);
        queue_.push_back(q);
        ++queuedSeq_;
    }
    work_.notify_one();
}

void TrafficRecorder::run() {
    pthread_setname_np(pthread_self(), "qx-recorder");
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock,
                   [&] { return !header_.empty() || !queue_.empty() || closeRequested_ || quit_; });
        if (fd_ < 0) {
            if (quit_) {
                return;
            }
            closeRequested_ = false; // nothing open to close
            writtenSeq_ = queuedSeq_;
            written_.notify_all();
            continue;
        }
        Round round;
        round.fd = fd_;
        round.limit = limit_;
        round.header = std::exchange(header_, {});
        round.reports.swap(queue_);
        round.close = closeRequested_;
        if (round.close) {
            round.droppedAtEnd = std::exchange(droppedPending_, 0);
        }
        round.upTo = queuedSeq_;
        const uint64_t bytesBefore = state_.bytes;
        lock.unlock();

        // The file is written without the lock: the link's threads go on queueing meanwhile.
        const Written w = write(round, bytesBefore);

        lock.lock();
        state_.bytes += w.bytes;
        state_.reports += w.reports;
        writtenSeq_ = round.upTo;
        if (w.atLimit || w.error != 0) {
            // The recording ends here; what was queued meanwhile would go past its end.
            state_.stoppedAtLimit = w.atLimit;
            if (w.error != 0) {
                state_.error = std::strerror(w.error);
            }
            accepting_ = false;
            state_.recording = false;
            queue_.clear();
            droppedPending_ = 0;
            round.close = true;
            writtenSeq_ = queuedSeq_;
        }
        if (round.close) {
            ::close(round.fd);
            fd_ = -1;
            closeRequested_ = false;
            state_.writing = false;
        }
        written_.notify_all();
    }
}

TrafficRecorder::Written TrafficRecorder::write(Round& round, uint64_t bytesBefore) const {
    const uint64_t reserve = reserveFor(round.limit);
    Written w;
    std::string out = std::move(round.header);
    uint64_t bytes = bytesBefore + out.size();
    for (const Queued& q : round.reports) {
        const std::string dropped = q.droppedBefore > 0 ? formatDroppedLine(q.droppedBefore) : "";
        const std::string line = formatRecordedReport(q.report);
        if (bytes + dropped.size() + line.size() + reserve > round.limit) {
            // The reserve always fits, so a stopped recording still says why.
            out += dropped;
            out += formatLimitLine(round.limit);
            w.atLimit = true;
            break;
        }
        out += dropped;
        out += line;
        bytes += dropped.size() + line.size();
        ++w.reports;
    }
    if (!w.atLimit && round.droppedAtEnd > 0) {
        out += formatDroppedLine(round.droppedAtEnd);
    }
    errno = 0;
    if (!out.empty() && !writer_(round.fd, out)) {
        // A full disk or a medium gone: the recording ends rather than leaving gaps in it.
        w.error = errno != 0 ? errno : EIO;
        w.reports = 0;
        w.atLimit = false;
        return w;
    }
    w.bytes = out.size();
    return w;
}

} // namespace qx
