#include "diag/TrafficRecorder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qx {

TrafficRecorder::~TrafficRecorder() {
    stop();
}

std::string TrafficRecorder::start(const std::string& path, const RecordingHeader& header,
                                   uint64_t limitBytes) {
    std::lock_guard lock(mutex_);
    closeLocked();
    const std::string head = formatRecordingHeader(header);
    std::FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) {
        return std::string("cannot create ") + path + ": " + std::strerror(errno);
    }
    if (std::fwrite(head.data(), 1, head.size(), f) != head.size()) {
        const int error = errno;
        std::fclose(f);
        return std::string("cannot write ") + path + ": " + std::strerror(error);
    }
    file_ = f;
    startedAt_ = Clock::now();
    // Room for the header and the line that says the bound was reached, whatever the bound.
    limit_ = std::max<uint64_t>(limitBytes, head.size() + formatLimitLine(limitBytes).size());
    state_ = State{true, false, head.size(), 0, path};
    return {};
}

void TrafficRecorder::stop() {
    std::lock_guard lock(mutex_);
    closeLocked();
}

void TrafficRecorder::closeLocked() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    state_.recording = false;
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
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) {
        return;
    }
    // Read under the lock: two threads recording at once must not write their times out of order.
    const Clock::time_point now = Clock::now();
    RecordedReport r;
    r.direction = direction;
    r.micros = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now - startedAt_).count());
    std::copy_n(report.begin(), std::min(report.size(), r.bytes.size()), r.bytes.begin());
    const std::string line = formatRecordedReport(r);
    const std::string last = formatLimitLine(limit_);
    // The limit line always fits within the bound, so a stopped recording still says why.
    if (state_.bytes + line.size() + last.size() > limit_) {
        std::fwrite(last.data(), 1, last.size(), file_);
        state_.bytes += last.size();
        state_.stoppedAtLimit = true;
        closeLocked();
        return;
    }
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) {
        closeLocked(); // a full disk ends the recording rather than leaving gaps in it
        return;
    }
    state_.bytes += line.size();
    ++state_.reports;
}

} // namespace qx
