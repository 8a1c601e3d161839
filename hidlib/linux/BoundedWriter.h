// SPDX-License-Identifier: GPL-3.0-or-later
// Reports sent to a device on a thread of their own, so that a caller waits no longer than its
// timeout. A hidraw write() or output-report ioctl returns only when the USB transfer has
// completed or the kernel's own timeout of several seconds has run out, and it cannot be
// cancelled; a stalled unit would hold the link worker that long on every report.
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
    // Sends one report to a file descriptor, giving up at the deadline where it can.
    using WriteOnce =
        std::function<bool(int fd, std::span<const uint8_t> report, Clock::time_point deadline)>;

    // How long destruction waits for a report still under way before leaving it to finish on
    // its own.
    static constexpr std::chrono::milliseconds kStopWait{300};
    // How long a report waits for its turn behind one whose caller has already given up on it:
    // that device has stopped taking reports, and every report behind it would otherwise cost
    // its whole timeout.
    static constexpr std::chrono::milliseconds kBehindAStall{200};

    BoundedWriter();
    explicit BoundedWriter(WriteOnce writeOnce, std::chrono::milliseconds stopWait = kStopWait);
    // Waits at most `stopWait` for a report under way; one that takes longer (a stalled device,
    // which the kernel holds for its own timeout) goes on without the writer and ends by itself.
    ~BoundedWriter();
    BoundedWriter(const BoundedWriter&) = delete;
    BoundedWriter& operator=(const BoundedWriter&) = delete;

    // True when the report was written within `timeout`. A write that is still under way when
    // the caller gives up goes on in the background; the next call waits for it within its own
    // timeout, but at most kBehindAStall, and fails when it has not ended by then. The
    // descriptor is duplicated, so the caller may close its own at once.
    bool write(int fd, std::span<const uint8_t> report, std::chrono::milliseconds timeout);
    // The same for another way of sending a report (an output-report ioctl): in turn with the
    // writes, on the same thread, within the same kind of timeout.
    bool send(int fd, std::span<const uint8_t> report, std::chrono::milliseconds timeout,
              const WriteOnce& sendOnce);
    // The caller is closing `fd`: its reports still waiting fail at once, and one not yet
    // started is not sent. One the device is holding goes on in the background as above.
    void abandon(int fd);

private:
    struct Outcome {
        int fd = -1; // the caller's descriptor
        bool done = false;
        bool written = false;
        bool abandoned = false;
    };
    struct Job {
        int fd = -1; // our own duplicate, closed after the write
        std::vector<uint8_t> bytes;
        Clock::time_point deadline;
        WriteOnce sendOnce;
        std::shared_ptr<Outcome> outcome; // shared with the caller, guarded by mutex
    };
    // Everything the thread uses: it may outlive the writer when a report stalls.
    struct State {
        std::mutex mutex;
        std::condition_variable changed; // callers: a job done or abandoned, a turn free, stopping
        std::condition_variable jobQueued; // the thread alone: a job queued, or stopping
        std::optional<Job> queued;         // handed over, not yet taken by the thread
        bool writing = false;              // the thread is inside a write
        bool stalled = false;              // and its caller has given up waiting for it
        bool stopping = false;
        std::vector<std::shared_ptr<Outcome>> callers; // every send() under way
    };

    static void run(const std::shared_ptr<State>& state);

    const WriteOnce writeOnce_;
    const std::chrono::milliseconds stopWait_;
    const std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_; // started with the first write
};

// Polls for room until the deadline, then writes: the plain write of a report.
bool writeBeforeDeadline(int fd, std::span<const uint8_t> report,
                         BoundedWriter::Clock::time_point deadline);

// Keeps the code this function is part of loaded until the process ends, so that a thread left
// to finish a stalled report never returns into code that was unloaded (the library is a
// loadable module). Does nothing for code that is part of the program itself.
void keepThisCodeLoaded();

} // namespace hid

#endif
