// SPDX-License-Identifier: GPL-3.0-or-later
// Reports sent over one overlapped device handle, one at a time, each within its caller's
// timeout. A report not taken by then is cancelled; one that completed
// meanwhile counts as sent. Closing the handle ends a waiting report at once.
#ifndef QX_HID_WINDOWS_REPORTSENDER_H
#define QX_HID_WINDOWS_REPORTSENDER_H

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

namespace hid {

class ReportSender {
public:
    using Clock = std::chrono::steady_clock;
    // How the sender waits for a transfer or for the handle to be abandoned, as
    // WaitForMultipleObjects(count, events, FALSE, ms) does. Tests stand in for it.
    using Wait = std::function<DWORD(DWORD count, const HANDLE* events, DWORD ms)>;

    // How long a report waits for its turn behind one that was given up on and whose
    // cancellation the driver has not finished: the device has stopped taking reports, and
    // every report behind it would otherwise cost its whole timeout.
    static constexpr std::chrono::milliseconds kBehindAStall{200};
    // How long a cancelled transfer is waited for before it is left to end by itself.
    static constexpr std::chrono::milliseconds kCancelWait{100};

    // `file` is opened for overlapped I/O and outlives the sender.
    explicit ReportSender(HANDLE file, Wait wait = {});
    // Cancels a transfer left behind and waits for it at most kCancelWait; one that has still
    // not ended keeps its buffer and record for good, since the system may still write to them.
    ~ReportSender();
    ReportSender(const ReportSender&) = delete;
    ReportSender& operator=(const ReportSender&) = delete;

    // Writes the report with WriteFile; true when it completed within `timeout`.
    bool send(std::span<const uint8_t> report, std::chrono::milliseconds timeout);
    // The handle is being closed: the report under way is cancelled, those waiting for their
    // turn fail, and every later one fails at once.
    void abandon();

private:
    struct Transfer;

    enum class Outcome { Sent, Failed, Running };

    // The part of send() done while holding the turn.
    bool sendInTurn(std::span<const uint8_t> report, Clock::time_point deadline);
    // Cancels `transfer` and waits at most kCancelWait for it to end. A transfer that had
    // completed before the cancel reached it is Sent.
    Outcome settle(Transfer& transfer) const;
    bool isAbandoned() const { return WaitForSingleObject(abandoned_, 0) == WAIT_OBJECT_0; }

    const HANDLE file_;
    const Wait wait_;
    const HANDLE abandoned_; // manual-reset event, set for good by abandon()
    std::mutex mutex_;
    std::condition_variable turnFree_;
    bool sending_ = false;      // guarded by mutex_: a caller has the turn
    bool abandonedSet_ = false; // guarded by mutex_: abandon() was called
    // Given up on but not yet ended; used only by the caller holding the turn, and by the
    // destructor.
    std::unique_ptr<Transfer> leftover_;
};

} // namespace hid

#endif
