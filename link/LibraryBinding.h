// SPDX-License-Identifier: GPL-3.0-or-later
// Loading the HID access library from an image held in memory, and the port the link sends
// through once it is loaded.
#pragma once

#include "hidlib/HID_Lib.h"
#include "link/HidPort.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qx {

// The library's eighteen entry points, resolved by name.
struct HidEntryPoints {
    decltype(&HIDscanForDevices) scanForDevices = nullptr;
    decltype(&HIDGetDeviceInfo) getDeviceInfo = nullptr;
    decltype(&HIDopenDevice) openDevice = nullptr;
    decltype(&HIDcloseDevice) closeDevice = nullptr;
    decltype(&HIDwriteDevice) writeDevice = nullptr;
    decltype(&HIDreadDevice) readDevice = nullptr;
    decltype(&HIDOutputReportSize) outputReportSize = nullptr;
    decltype(&HIDInputReportSize) inputReportSize = nullptr;
    decltype(&HIDFeatureReportSize) featureReportSize = nullptr;
    decltype(&HIDOutputReportCount) outputReportCount = nullptr;
    decltype(&HIDInputReportCount) inputReportCount = nullptr;
    decltype(&HIDFeatureReportCount) featureReportCount = nullptr;
    decltype(&HIDSetOutputReport) setOutputReport = nullptr;
    decltype(&HIDGetInputReport) getInputReport = nullptr;
    decltype(&HIDSetFeatureReport) setFeatureReport = nullptr;
    decltype(&HIDGetFeatureReport) getFeatureReport = nullptr;
    decltype(&HIDsetEventHandler) setEventHandler = nullptr;
    decltype(&USBsetEventHandler) usbSetEventHandler = nullptr;
};

class LoadedLibrary {
public:
    // Writes `image` to a private in-memory file and loads it from there, so no file in the
    // current directory (or anywhere else) can be loaded in its place. Every one of the
    // eighteen names must resolve. Returns nullptr and a reason on failure. Each call gives a
    // separate copy with its own state and threads, also while earlier copies are loaded.
    static std::unique_ptr<LoadedLibrary> load(std::span<const uint8_t> image, std::string& error);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    const HidEntryPoints& entry() const { return entry_; }
    // Any other symbol of the module (the virtual variant's control, for instance).
    void* symbol(const char* name) const;

private:
    LoadedLibrary(void* handle, int hold) : handle_(handle), hold_(hold) {}
    // Looks up the eighteen entry points through symbol(); false, with the missing name in
    // `error`, when one is not there.
    bool resolveAll(std::string& error);
    void* handle_;
    // What keeps this copy apart from the others while it is loaded: its in-memory file, whose
    // name the loader knows it by (Linux), or the number of its private file (Windows).
    int hold_;
    HidEntryPoints entry_;
};

class LibraryPort : public HidPort {
public:
    explicit LibraryPort(const HidEntryPoints& entry) : entry_(entry) {}
    uint8_t scanForDevices() override { return entry_.scanForDevices(); }
    void getDeviceInfo(uint8_t index, THIDdeviceInfo* info) override {
        entry_.getDeviceInfo(index, info);
    }
    bool openDevice(uint8_t index) override { return entry_.openDevice(index); }
    bool closeDevice() override { return entry_.closeDevice(); }
    uint8_t setOutputReport(uint8_t* report) override { return entry_.setOutputReport(report); }

private:
    const HidEntryPoints& entry_;
};

} // namespace qx
