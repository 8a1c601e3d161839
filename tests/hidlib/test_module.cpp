// SPDX-License-Identifier: GPL-3.0-or-later
// Loads the built module as the program does and checks what it exports and that it unloads.
#include "hidlib/HID_Lib.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char* const kExports[] = {
    "HIDscanForDevices",    "HIDGetDeviceInfo",     "HIDopenDevice",       "HIDcloseDevice",
    "HIDwriteDevice",       "HIDreadDevice",        "HIDOutputReportSize", "HIDInputReportSize",
    "HIDFeatureReportSize", "HIDOutputReportCount", "HIDInputReportCount", "HIDFeatureReportCount",
    "HIDSetOutputReport",   "HIDGetInputReport",    "HIDSetFeatureReport", "HIDGetFeatureReport",
    "HIDsetEventHandler",   "USBsetEventHandler"};

// Threads of this process named like the library's reader.
int readerThreads() {
    int n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        n += name == "hid-reader" ? 1 : 0;
    }
    return n;
}

void HID_LIB_CALL ignoreInput(THIDreport, uint8_t) {}
void HID_LIB_CALL ignoreChange() {}

template <typename F>
F resolve(void* module, const char* name) {
    return reinterpret_cast<F>(dlsym(module, name));
}

void exerciseAndUnload(void* module) {
    ASSERT_NE(module, nullptr) << dlerror();
    for (const char* name : kExports)
        EXPECT_NE(dlsym(module, name), nullptr) << name;
    for (const char* hidden : {"_ZN3hid13moduleLibraryEv", "_ZN3hid7Library4scanEv",
                               "_ZN3hid12elementCountERA10_K12THIDvalueCaptt"})
        EXPECT_EQ(dlsym(module, hidden), nullptr) << hidden;
    EXPECT_EQ(readerThreads(), 1);

    EXPECT_FALSE(resolve<bool (*)()>(module, "HIDcloseDevice")());
    EXPECT_LE(resolve<uint8_t (*)()>(module, "HIDscanForDevices")(), 32);
    THIDdeviceInfo info;
    std::memset(&info, 0x5A, sizeof info);
    resolve<void (*)(uint8_t, THIDdeviceInfo*)>(module, "HIDGetDeviceInfo")(31, &info);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&info)[100], 0x5A);
    EXPECT_EQ(resolve<uint8_t (*)()>(module, "HIDInputReportSize")(), 0);
    resolve<void (*)(THIDinputHandler)>(module, "HIDsetEventHandler")(&ignoreInput);
    resolve<void (*)(THIDdeviceChangeHandler)>(module, "USBsetEventHandler")(&ignoreChange);

    EXPECT_EQ(dlclose(module), 0);
    EXPECT_EQ(readerThreads(), 0) << "the reader is stopped at unload";
}

TEST(Module, LoadsWithoutQtAndUnloads) {
    exerciseAndUnload(dlopen(HID_LIB_PATH, RTLD_NOW | RTLD_LOCAL));
}

TEST(Module, WatchesFromTheEventLoopOnceThereIsOne) {
    void* module = dlopen(HID_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
    int argc = 1;
    char name[] = "test_module";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    exerciseAndUnload(module); // registration makes the watcher here, unload removes it
    QCoreApplication::processEvents();
}

TEST(Module, LoadedUnderARunningApplication) {
    int argc = 1;
    char name[] = "test_module";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    exerciseAndUnload(dlopen(HID_LIB_PATH, RTLD_NOW | RTLD_LOCAL));
    QCoreApplication::processEvents();
}

TEST(Module, UnloadsAfterTheApplicationIsGone) {
    // The program ends without unloading: the module is torn down after its event loop.
    void* module = nullptr;
    {
        int argc = 1;
        char name[] = "test_module";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        module = dlopen(HID_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        resolve<void (*)(THIDdeviceChangeHandler)>(module, "USBsetEventHandler")(&ignoreChange);
    }
    EXPECT_EQ(dlclose(module), 0);
    EXPECT_EQ(readerThreads(), 0);
}

} // namespace
