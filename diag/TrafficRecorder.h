// Records every report the link sends and receives into a recording file (diag/RECORDING.md).
// It stays attached to the link as its tap for the whole run; start and stop only open and
// close the file. Bounded: at its size limit it writes a last line saying so and stops.
#pragma once

#include "diag/TrafficRecording.h"
#include "link/LinkCounters.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace qx {

class TrafficRecorder : public TrafficTap {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint64_t kDefaultLimit = 16 * 1024 * 1024;

    TrafficRecorder() = default;
    ~TrafficRecorder() override;
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    // Starts recording into `path` (replacing it). Empty on success, else why not.
    std::string start(const std::string& path, const RecordingHeader& header,
                      uint64_t limitBytes = kDefaultLimit);
    // Ends the recording and closes the file; harmless when none runs.
    void stop();

    struct State {
        bool recording = false;
        bool stoppedAtLimit = false; // the last recording ended at its bound
        uint64_t bytes = 0;          // written to the current or last recording
        uint64_t reports = 0;
        std::string path;
    };
    State state() const;

    void sent(std::span<const uint8_t> report) override;
    void refused(std::span<const uint8_t> report) override;
    void received(std::span<const uint8_t> report) override;

private:
    void record(TrafficDirection direction, std::span<const uint8_t> report);
    void closeLocked();

    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;   // guarded by mutex_
    Clock::time_point startedAt_; // guarded by mutex_
    uint64_t limit_ = 0;          // guarded by mutex_
    State state_;                 // guarded by mutex_
};

} // namespace qx
