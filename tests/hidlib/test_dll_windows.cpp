// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows module as a program sees it: loaded by full path, its eighteen names resolved, and
// its calls sound on a machine with no HID device of ours (under Wine, none at all).
#include "hidlib/HID_Lib.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <atomic>
#include <cstring>
#include <thread>

namespace {

struct Dll {
    Dll() : module(LoadLibraryExA(HID_LIB_PATH, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {}
    ~Dll() {
        if (module != nullptr)
            FreeLibrary(module);
    }
    template <typename F>
    F get(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    HMODULE module;
};

TEST(WindowsDll, ResolvesEveryEntryPointAndAnswersWithoutADevice) {
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    for (const char* name :
         {"HIDscanForDevices", "HIDGetDeviceInfo", "HIDopenDevice", "HIDcloseDevice",
          "HIDwriteDevice", "HIDreadDevice", "HIDOutputReportSize", "HIDInputReportSize",
          "HIDFeatureReportSize", "HIDOutputReportCount", "HIDInputReportCount",
          "HIDFeatureReportCount", "HIDSetOutputReport", "HIDGetInputReport", "HIDSetFeatureReport",
          "HIDGetFeatureReport", "HIDsetEventHandler", "USBsetEventHandler"})
        EXPECT_NE(GetProcAddress(dll.module, name), nullptr) << name;

    const auto scan = dll.get<decltype(&HIDscanForDevices)>("HIDscanForDevices");
    const auto info = dll.get<decltype(&HIDGetDeviceInfo)>("HIDGetDeviceInfo");
    const auto open = dll.get<decltype(&HIDopenDevice)>("HIDopenDevice");
    const auto close = dll.get<decltype(&HIDcloseDevice)>("HIDcloseDevice");
    const auto write = dll.get<decltype(&HIDwriteDevice)>("HIDwriteDevice");
    const auto read = dll.get<decltype(&HIDreadDevice)>("HIDreadDevice");
    const auto count = scan();
    EXPECT_LE(count, 32);
    // Every listed slot has identifiers and a NUL-terminated path within its length.
    for (uint8_t i = 0; i < count && i < 31; ++i) {
        THIDdeviceInfo slot;
        info(i, &slot);
        EXPECT_NE(slot.vendorId, 0);
        EXPECT_NE(slot.productId, 0);
        EXPECT_EQ(slot.handle, -1);
        ASSERT_GT(slot.path.length, 0);
        EXPECT_EQ(slot.path.text[slot.path.length - 1], '\0');
    }
    EXPECT_FALSE(open(count)); // one past the last listed slot
    EXPECT_FALSE(close());
    THIDreport report;
    std::memset(&report, 0, sizeof report);
    EXPECT_EQ(write(report), 0);
    EXPECT_EQ(read(&report), 0);
}

void HID_LIB_CALL ignoreChange() {}

void dispatchWaiting() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
}

// Device changes are watched from the registration of a handler on; a handler may be set and
// cleared there, and the module unloads cleanly afterwards.
TEST(WindowsDll, LoadsAndUnloadsTwiceWithHandlers) {
    for (int round = 0; round < 2; ++round) {
        Dll dll;
        ASSERT_NE(dll.module, nullptr);
        const auto setChange = dll.get<decltype(&USBsetEventHandler)>("USBsetEventHandler");
        setChange(&ignoreChange);
        dispatchWaiting();
        setChange(nullptr);
    }
}

// Under Wine without a display, windows can be made but a broadcast waits for none of them, so
// that a broadcast proves nothing there.
bool wineWithoutDisplay() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr &&
           GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0;
}

// A program that loads the library and then never dispatches window messages (qx77zt.exe):
// a message broadcast to every top-level window, as installers and a changed environment send,
// must not wait for that thread.
TEST(WindowsDll, ABroadcastDoesNotWaitForTheLoadingThread) {
    if (wineWithoutDisplay())
        GTEST_SKIP() << "no display here: Wine waits for no window (the Windows lane has one)";
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    dll.get<decltype(&USBsetEventHandler)>("USBsetEventHandler")(&ignoreChange);
    // This thread now waits without dispatching, while another one broadcasts.
    DWORD took = 0;
    std::thread([&] {
        const DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"Environment"), SMTO_NORMAL, 8000, &result);
        took = GetTickCount() - start;
    }).join();
    EXPECT_LT(took, 4000u) << "the broadcast waited for a window of the loading thread";
    dll.get<decltype(&USBsetEventHandler)>("USBsetEventHandler")(nullptr);
}

std::atomic<int> changes{0};
std::atomic<DWORD> changedOn{0};
void HID_LIB_CALL countChange() {
    changedOn = GetCurrentThreadId();
    ++changes;
}

// The library's own window for device changes: a HID interface arriving reaches the handler on
// the thread that registered it, once that thread dispatches; a change of another class does
// not.
TEST(WindowsDll, AHidArrivalReachesTheHandlerOnTheRegisteringThread) {
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    dll.get<decltype(&USBsetEventHandler)>("USBsetEventHandler")(&countChange);
    HWND notifier = nullptr;
    for (int i = 0; i < 200 && notifier == nullptr; ++i) {
        notifier = FindWindowExW(HWND_MESSAGE, nullptr, L"QxHidDeviceNotifier", nullptr);
        if (notifier == nullptr)
            Sleep(50);
    }
    ASSERT_NE(notifier, nullptr) << "the library made no window of its own for device changes";
    DWORD notifierThread = GetWindowThreadProcessId(notifier, nullptr);
    EXPECT_NE(notifierThread, GetCurrentThreadId());

    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    DEV_BROADCAST_DEVICEINTERFACE_W arrival{};
    arrival.dbcc_size = sizeof arrival;
    arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    arrival.dbcc_classguid = hidClass;
    DEV_BROADCAST_DEVICEINTERFACE_W other = arrival;
    other.dbcc_classguid.Data1 ^= 1;
    dispatchWaiting();
    changes = 0;
    SendMessageW(notifier, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&other));
    SendMessageW(notifier, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival));
    EXPECT_EQ(changes, 0); // not before this thread dispatches
    dispatchWaiting();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(changedOn, GetCurrentThreadId());
    dll.get<decltype(&USBsetEventHandler)>("USBsetEventHandler")(nullptr);
}

} // namespace
