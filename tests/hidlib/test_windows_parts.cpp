// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows backend's parts that need no HID device: output reports over an overlapped handle
// (a named pipe stands in for the device, its reading end for the device taking reports), and
// the way device changes reach the thread that registered for them.
#include "hidlib/windows/ChangeRelay.h"
#include "hidlib/windows/DeviceNotifier.h"
#include "hidlib/windows/ReportSender.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using hid::ReportSender;
using Clock = std::chrono::steady_clock;

// A pipe without a buffer: a write completes only when the other end reads it.
class DevicePipe {
public:
    DevicePipe() {
        static std::atomic<int> serial{0};
        const std::wstring name = L"\\\\.\\pipe\\qx-report-sender-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(serial++);
        device = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
        taker = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~DevicePipe() {
        for (HANDLE h : {device, taker})
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
    }
    bool ok() const { return device != INVALID_HANDLE_VALUE && taker != INVALID_HANDLE_VALUE; }

    // What the device takes: exactly `size` bytes.
    std::vector<uint8_t> take(size_t size) const {
        std::vector<uint8_t> bytes(size);
        for (size_t at = 0; at < size;) {
            DWORD n = 0;
            if (!ReadFile(taker, bytes.data() + at, static_cast<DWORD>(size - at), &n, nullptr) ||
                n == 0)
                return {};
            at += n;
        }
        return bytes;
    }

    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE taker = INVALID_HANDLE_VALUE;
};

const std::vector<uint8_t> kReport = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};

// Sends on a thread of its own, so that the test can act while the report waits.
std::future<bool> sendLater(ReportSender& sender, std::vector<uint8_t> report,
                            std::chrono::milliseconds timeout) {
    return std::async(std::launch::async, [&sender, report = std::move(report), timeout] {
        return sender.send(report, timeout);
    });
}

TEST(ReportSender, SendsWhatTheDeviceTakesAndCancelsWhatItDoesNotWithinTheTimeout) {
    DevicePipe pipe;
    ASSERT_TRUE(pipe.ok());
    ReportSender sender(pipe.device);

    // Nobody reads: the report is given up on at its timeout and cancelled, not left queued.
    const auto start = Clock::now();
    EXPECT_FALSE(sender.send(kReport, 300ms));
    EXPECT_LT(Clock::now() - start, 5s);

    // The device takes the next report, and only that one.
    std::vector<uint8_t> next = kReport;
    next[1] = 0x99;
    auto sent = sendLater(sender, next, 10s);
    EXPECT_EQ(pipe.take(next.size()), next);
    EXPECT_TRUE(sent.get());
}

TEST(ReportSender, ClosingEndsTheReportUnderWayAndThoseWaitingAtOnce) {
    DevicePipe pipe;
    ASSERT_TRUE(pipe.ok());
    ReportSender sender(pipe.device);
    // Far longer than the test may take: only abandon() can end these in time.
    auto first = sendLater(sender, kReport, 120s);
    auto second = sendLater(sender, kReport, 120s);
    std::this_thread::sleep_for(100ms); // both under way, one writing and one waiting its turn
    const auto start = Clock::now();
    sender.abandon();
    ASSERT_EQ(first.wait_for(20s), std::future_status::ready);
    ASSERT_EQ(second.wait_for(20s), std::future_status::ready);
    EXPECT_LT(Clock::now() - start, 20s);
    EXPECT_FALSE(first.get());
    EXPECT_FALSE(second.get());
    // Nothing is sent on a handle being closed.
    EXPECT_FALSE(sender.send(kReport, 10s));
}

// The transfer completes just as its wait ends without seeing it (the timeout and the
// completion cross): cancelling then finds nothing to cancel, and the report went out.
TEST(ReportSender, AReportThatCompletedAsItsWaitRanOutCountsAsSent) {
    DevicePipe pipe;
    ASSERT_TRUE(pipe.ok());
    std::vector<uint8_t> taken;
    ReportSender sender(pipe.device, [&](DWORD, const HANDLE*, DWORD) -> DWORD {
        taken = pipe.take(kReport.size()); // the device takes it...
        return WAIT_TIMEOUT;               // ...as the wait runs out
    });
    EXPECT_TRUE(sender.send(kReport, 200ms));
    EXPECT_EQ(taken, kReport);
}

TEST(DeviceNotifier, CallsOnItsOwnThreadForArrivalsAndRemovalsOfItsClassOnly) {
    const GUID hidClass = {
        0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    const GUID otherClass = {
        0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
    std::atomic<int> calls{0};
    std::atomic<DWORD> calledOn{0};
    hid::DeviceNotifier notifier(GetModuleHandleW(nullptr), hidClass, [&] {
        calledOn = GetCurrentThreadId();
        ++calls;
    });
    const HWND window = notifier.window();
    ASSERT_NE(window, nullptr) << "no window could be made or registered for device changes";

    DEV_BROADCAST_DEVICEINTERFACE_W ofHid{};
    ofHid.dbcc_size = sizeof ofHid;
    ofHid.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    ofHid.dbcc_classguid = hidClass;
    DEV_BROADCAST_DEVICEINTERFACE_W ofOther = ofHid;
    ofOther.dbcc_classguid = otherClass;
    DEV_BROADCAST_HDR volume{};
    volume.dbch_size = sizeof volume;
    volume.dbch_devicetype = DBT_DEVTYP_VOLUME;
    const struct {
        WPARAM event;
        const void* data;
        int counted;
    } cases[] = {
        {DBT_DEVICEARRIVAL, &ofHid, 1},          {DBT_DEVICEREMOVECOMPLETE, &ofHid, 1},
        {DBT_DEVICEQUERYREMOVE, &ofHid, 0},      {DBT_DEVICEARRIVAL, &ofOther, 0},
        {DBT_DEVICEREMOVECOMPLETE, &ofOther, 0}, {DBT_DEVICEARRIVAL, &volume, 0},
        {DBT_DEVNODES_CHANGED, nullptr, 0},
    };
    for (const auto& c : cases) {
        const int before = calls;
        // Sent to the notifier's thread, which runs it before this returns.
        SendMessageW(window, WM_DEVICECHANGE, c.event, reinterpret_cast<LPARAM>(c.data));
        EXPECT_EQ(calls - before, c.counted) << "event " << c.event;
    }
    EXPECT_NE(calledOn.load(), 0u);
    EXPECT_NE(calledOn.load(), GetCurrentThreadId());
}

TEST(DeviceNotifier, TellsAShortRecordFromAnInterfaceRecord) {
    const GUID any = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    DEV_BROADCAST_DEVICEINTERFACE_W record{};
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record.dbcc_classguid = any;
    record.dbcc_size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid);
    EXPECT_FALSE(hid::DeviceNotifier::isInterfaceChange(any, DBT_DEVICEARRIVAL,
                                                        reinterpret_cast<LPARAM>(&record)));
    record.dbcc_size = sizeof record;
    EXPECT_TRUE(hid::DeviceNotifier::isInterfaceChange(any, DBT_DEVICEARRIVAL,
                                                       reinterpret_cast<LPARAM>(&record)));
    EXPECT_FALSE(hid::DeviceNotifier::isInterfaceChange(any, DBT_DEVICEARRIVAL, 0));
}

void dispatchWaiting() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

TEST(ChangeRelay, CallsOnTheMakingThreadOncePerChangeOnlyWhileItDispatches) {
    int calls = 0; // this thread's own: the relay calls nowhere else
    hid::ChangeRelay relay(GetModuleHandleW(nullptr), [&] { ++calls; });
    ASSERT_NE(relay.window(), nullptr);
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            relay.post();
    }).join();
    EXPECT_EQ(calls, 0); // nothing runs until this thread dispatches its messages
    dispatchWaiting();
    EXPECT_EQ(calls, 3);
    relay.post();
    dispatchWaiting();
    EXPECT_EQ(calls, 4);
}

} // namespace
