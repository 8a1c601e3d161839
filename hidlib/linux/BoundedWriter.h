// Output reports written on a thread of their own, so that a caller waits no longer than its
// timeout. A hidraw write() returns only when the USB transfer has completed or the kernel's own
// timeout of several seconds has run out, and it cannot be cancelled; a stalled unit would hold
// the link worker that long on every report.
#ifndef QX_HID_LINUX_BOUNDEDWRITER_H
#define QX_HID_LINUX_BOUNDEDWRITER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace hid {

class BoundedWriter {
public:
    using Clock = std::chrono::steady_clock;
    // Writes one report to a file descriptor, giving up at the deadline where it can.
    using WriteOnce =
        std::function<bool(int fd, std::span<const uint8_t> report, Clock::time_point deadline)>;

    BoundedWriter();
    explicit BoundedWriter(WriteOnce writeOnce);
    // Waits for a write under way: it ends at the latest with the kernel's transfer timeout.
    ~BoundedWriter();
    BoundedWriter(const BoundedWriter&) = delete;
    BoundedWriter& operator=(const BoundedWriter&) = delete;

    // True when the report was written within `timeout`. A write that is still under way when
    // the caller gives up goes on in the background; the next call waits for it within its own
    // timeout and fails when it has not ended by then. The descriptor is duplicated, so the
    // caller may close its own at once.
    bool write(int fd, std::span<const uint8_t> report, std::chrono::milliseconds timeout);

private:
    struct Outcome {
        bool done = false;
        bool written = false;
    };
    struct Job {
        int fd = -1; // our own duplicate, closed after the write
        std::vector<uint8_t> bytes;
        Clock::time_point deadline;
        std::shared_ptr<Outcome> outcome; // shared with the caller, guarded by mutex_
    };

    void run();

    const WriteOnce writeOnce_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Job> queued_; // handed over, not yet taken by the thread
    bool writing_ = false;      // the thread is inside a write
    bool stopping_ = false;
    std::thread thread_; // started with the first write
};

// Polls for room until the deadline, then writes: the plain write of a report.
bool writeBeforeDeadline(int fd, std::span<const uint8_t> report,
                         BoundedWriter::Clock::time_point deadline);

} // namespace hid

#endif
