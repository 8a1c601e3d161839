// The Windows module as a program sees it: loaded by full path, its eighteen names resolved, and
// its calls sound on a machine with no HID device of ours (under Wine, none at all).
#include "hidlib/HID_Lib.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

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

// The hidden window lives on the loading thread; a device-change handler may be set and cleared
// there, and the module unloads cleanly afterwards.
TEST(WindowsDll, LoadsAndUnloadsTwiceWithHandlers) {
    for (int round = 0; round < 2; ++round) {
        Dll dll;
        ASSERT_NE(dll.module, nullptr);
        const auto setChange = dll.get<decltype(&USBsetEventHandler)>("USBsetEventHandler");
        setChange(&ignoreChange);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        setChange(nullptr);
    }
}

} // namespace
