// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/windows/ReportSender.h"

#include <algorithm>
#include <vector>

namespace hid {

namespace {

DWORD millisecondsUntil(ReportSender::Clock::time_point until) {
    using namespace std::chrono;
    const auto left = ceil<milliseconds>(until - ReportSender::Clock::now()).count();
    return static_cast<DWORD>(std::clamp<int64_t>(left, 0, INFINITE - 1));
}

DWORD waitForAny(DWORD count, const HANDLE* events, DWORD ms) {
    return WaitForMultipleObjects(count, events, FALSE, ms);
}

} // namespace

// One transfer's bytes, event and record: they must stay valid until the transfer has ended.
struct ReportSender::Transfer {
    explicit Transfer(std::span<const uint8_t> report)
        : bytes(report.begin(), report.end()), event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        ov.hEvent = event;
    }
    ~Transfer() {
        if (event != nullptr)
            CloseHandle(event);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    std::vector<uint8_t> bytes;
    HANDLE event;
    OVERLAPPED ov{};
};

ReportSender::ReportSender(HANDLE file, Wait wait)
    : file_(file), wait_(wait ? std::move(wait) : Wait(waitForAny)),
      abandoned_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

ReportSender::~ReportSender() {
    // The system may still write into a transfer that does not end: its memory is left to it.
    if (leftover_ && settle(*leftover_) == Outcome::Running)
        static_cast<void>(leftover_.release());
    if (abandoned_ != nullptr)
        CloseHandle(abandoned_);
}

bool ReportSender::send(std::span<const uint8_t> report, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    if (abandoned_ == nullptr || report.empty() ||
        !turnFree_.wait_until(lock, deadline, [&] { return !sending_ || abandonedSet_; }) ||
        abandonedSet_)
        return false;
    sending_ = true;
    lock.unlock();
    const bool sent = sendInTurn(report, deadline);
    lock.lock();
    sending_ = false;
    lock.unlock();
    turnFree_.notify_one();
    return sent;
}

bool ReportSender::sendInTurn(std::span<const uint8_t> report, Clock::time_point deadline) {
    if (leftover_) {
        // A device that has not yet let go of a cancelled report is given a short while only.
        const HANDLE events[2] = {leftover_->event, abandoned_};
        const Clock::time_point until = std::min(deadline, Clock::now() + kBehindAStall);
        if (WaitForMultipleObjects(2, events, FALSE, millisecondsUntil(until)) != WAIT_OBJECT_0)
            return false;
        leftover_.reset();
    }
    if (isAbandoned())
        return false; // not started: it never goes out
    auto transfer = std::make_unique<Transfer>(report);
    if (transfer->event == nullptr)
        return false;
    DWORD n = 0;
    if (WriteFile(file_, transfer->bytes.data(), static_cast<DWORD>(transfer->bytes.size()), &n,
                  &transfer->ov))
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    const HANDLE events[2] = {transfer->event, abandoned_};
    if (wait_(2, events, millisecondsUntil(deadline)) == WAIT_OBJECT_0)
        return GetOverlappedResult(file_, &transfer->ov, &n, FALSE) != 0;
    // Out of time, or the handle is being closed.
    switch (settle(*transfer)) {
    case Outcome::Sent:
        return true;
    case Outcome::Failed:
        return false;
    case Outcome::Running:
        leftover_ = std::move(transfer);
        return false;
    }
    return false;
}

ReportSender::Outcome ReportSender::settle(Transfer& transfer) const {
    CancelIoEx(file_, &transfer.ov);
    if (WaitForSingleObject(transfer.event, static_cast<DWORD>(kCancelWait.count())) !=
        WAIT_OBJECT_0)
        return Outcome::Running;
    DWORD n = 0;
    return GetOverlappedResult(file_, &transfer.ov, &n, FALSE) ? Outcome::Sent : Outcome::Failed;
}

void ReportSender::abandon() {
    {
        std::lock_guard lock(mutex_);
        abandonedSet_ = true;
        if (abandoned_ != nullptr)
            SetEvent(abandoned_);
    }
    turnFree_.notify_all();
}

} // namespace hid
