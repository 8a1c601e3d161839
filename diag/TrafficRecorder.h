// SPDX-License-Identifier: GPL-3.0-or-later
// Records every report the link sends and receives into a recording file (diag/RECORDING.md).
// It stays attached to the link as its tap for the whole run; start and stop only open and
// close the file.
//
// The link's threads never wait for the file: a report is only put into a bounded queue, and a
// thread of the recorder's own writes the queue out, so a slow or stuck medium (a stick being
// pulled, a network share that hangs) cannot hold up the link, during an update neither. A
// report that finds the queue full is dropped, counted, and the file says so where it was.
// Bounded in size too: at its limit it writes a last line saying so and stops.
#pragma once

#include "diag/TrafficRecording.h"
#include "link/LinkCounters.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace qx {

class TrafficRecorder : public TrafficTap {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint64_t kDefaultLimit = 16 * 1024 * 1024;
    // Reports waiting for the file: seconds of the busiest traffic (an update's blocks).
    static constexpr std::size_t kDefaultQueue = 4096;
    // How long start() waits for the file of the recording before it to be closed.
    static constexpr std::chrono::milliseconds kCloseWait{500};
    // Puts all of `bytes` into the file `fd`; false when it cannot. Runs on the recorder's
    // thread only. Tests stand a slow medium in for the file here.
    using Writer = std::function<bool(int fd, std::string_view bytes)>;

    explicit TrafficRecorder(std::size_t queueCapacity = kDefaultQueue, Writer writer = {});
    // Ends any recording and waits until its file is written and closed.
    ~TrafficRecorder() override;
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    // Starts recording into `path` (replacing it). Only a regular file is opened, without ever
    // waiting on what the name is (a named pipe, a device), and it is readable by its owner
    // alone: it holds the unit's serial number and every firmware block sent. Refused while
    // the file of the last recording is still being written. Empty on success, else why not.
    std::string start(const std::string& path, const RecordingHeader& header,
                      uint64_t limitBytes = kDefaultLimit);
    // Ends the recording: nothing more is queued; the recorder's thread writes what is and
    // closes the file. Returns at once; harmless when none runs.
    void stop();
    // Waits until what was queued before the call is in the file (and the file of a stopped
    // recording closed); false when `timeout` passed first.
    bool waitWritten(std::chrono::milliseconds timeout);

    struct State {
        bool recording = false;      // reports are being recorded
        bool writing = false;        // the file is open: the recorder's thread still writes it
        bool stoppedAtLimit = false; // the last recording ended at its bound
        uint64_t bytes = 0;          // written to the current or last recording
        uint64_t reports = 0;        // report lines written to it
        uint64_t dropped = 0;        // reports that found the queue full
        std::string path;
        std::string error; // why writing the file failed, which ended the recording
    };
    State state() const;

    void sent(std::span<const uint8_t> report) override;
    void refused(std::span<const uint8_t> report) override;
    void received(std::span<const uint8_t> report) override;

private:
    struct Queued {
        RecordedReport report;
        uint64_t droppedBefore = 0; // reports dropped between this one and the one before
    };
    // What the thread takes out of the shared state for one round of writing.
    struct Round {
        int fd = -1;
        uint64_t limit = 0;
        std::string header;
        std::deque<Queued> reports;
        bool close = false;
        uint64_t droppedAtEnd = 0;
        uint64_t upTo = 0;
    };
    // What one round did to the file.
    struct Written {
        uint64_t bytes = 0;
        uint64_t reports = 0;
        bool atLimit = false;
        int error = 0; // errno of a failed write
    };

    void record(TrafficDirection direction, std::span<const uint8_t> report);
    void run();
    Written write(Round& round, uint64_t bytesBefore) const;

    const std::size_t capacity_;
    const Writer writer_;

    mutable std::mutex mutex_;
    std::condition_variable work_;    // the thread has something to do
    std::condition_variable written_; // a round was written
    bool accepting_ = false;          // guarded by mutex_: reports are queued
    int fd_ = -1;                     // guarded by mutex_: the open recording's file
    std::string header_;              // guarded by mutex_: still to be written
    std::deque<Queued> queue_;        // guarded by mutex_
    uint64_t droppedPending_ = 0;     // guarded by mutex_: dropped since the last queued report
    bool closeRequested_ = false;     // guarded by mutex_
    bool quit_ = false;               // guarded by mutex_
    Clock::time_point startedAt_;     // guarded by mutex_
    uint64_t limit_ = 0;              // guarded by mutex_
    // Every header, report and close queued bumps `queuedSeq_`; the thread sets `writtenSeq_`
    // to what it has done. Guarded by mutex_.
    uint64_t queuedSeq_ = 0;
    uint64_t writtenSeq_ = 0;
    State state_;        // guarded by mutex_
    std::thread thread_; // started with the first recording
};

} // namespace qx
