// SPDX-License-Identifier: GPL-3.0-or-later
// The library's eighteen entry points, resolved by name on every platform.
#include "link/LibraryBinding.h"

namespace qx {

namespace {

template <typename F>
bool resolve(const LoadedLibrary& lib, const char* name, F& out, std::string& error) {
    void* p = lib.symbol(name);
    if (p == nullptr) {
        error = std::string("the HID library has no entry point ") + name;
        return false;
    }
    out = reinterpret_cast<F>(p);
    return true;
}

} // namespace

bool LoadedLibrary::resolveAll(std::string& error) {
    HidEntryPoints& e = entry_;
    return resolve(*this, "HIDscanForDevices", e.scanForDevices, error) &&
           resolve(*this, "HIDGetDeviceInfo", e.getDeviceInfo, error) &&
           resolve(*this, "HIDopenDevice", e.openDevice, error) &&
           resolve(*this, "HIDcloseDevice", e.closeDevice, error) &&
           resolve(*this, "HIDwriteDevice", e.writeDevice, error) &&
           resolve(*this, "HIDreadDevice", e.readDevice, error) &&
           resolve(*this, "HIDOutputReportSize", e.outputReportSize, error) &&
           resolve(*this, "HIDInputReportSize", e.inputReportSize, error) &&
           resolve(*this, "HIDFeatureReportSize", e.featureReportSize, error) &&
           resolve(*this, "HIDOutputReportCount", e.outputReportCount, error) &&
           resolve(*this, "HIDInputReportCount", e.inputReportCount, error) &&
           resolve(*this, "HIDFeatureReportCount", e.featureReportCount, error) &&
           resolve(*this, "HIDSetOutputReport", e.setOutputReport, error) &&
           resolve(*this, "HIDGetInputReport", e.getInputReport, error) &&
           resolve(*this, "HIDSetFeatureReport", e.setFeatureReport, error) &&
           resolve(*this, "HIDGetFeatureReport", e.getFeatureReport, error) &&
           resolve(*this, "HIDsetEventHandler", e.setEventHandler, error) &&
           resolve(*this, "USBsetEventHandler", e.usbSetEventHandler, error);
}

} // namespace qx
