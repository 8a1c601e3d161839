// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/vm/HidrawNode.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace qx::vm {
namespace fs = std::filesystem;

namespace {

std::string readAttribute(const fs::path& file) {
    std::ifstream in(file);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string value = text.str();
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
        value.pop_back();
    }
    return value;
}

// The kernel writes the ids of a HID device as HID_ID=BUS:VENDOR:PRODUCT, each in 4 or 8 digits.
bool ueventHasIds(const fs::path& uevent, UsbIds ids) {
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "HID_ID=0003:%08X:%08X", ids.vendor, ids.product);
    std::ifstream in(uevent);
    std::string line;
    while (std::getline(in, line)) {
        if (line == wanted) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<HidrawNode> findHidraw(const fs::path& sysClass, UsbIds ids) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysClass, error)) {
        const fs::path hidDevice = fs::canonical(entry.path() / "device", error);
        if (error || !ueventHasIds(hidDevice / "uevent", ids)) {
            continue;
        }
        // hidraw -> HID device -> USB interface -> USB device; the device folder is the first
        // one above that carries idVendor.
        for (fs::path up = hidDevice.parent_path(); up.has_relative_path(); up = up.parent_path()) {
            if (fs::exists(up / "idVendor", error)) {
                return HidrawNode{fs::path("/dev") / entry.path().filename(), up};
            }
        }
    }
    return std::nullopt;
}

UsbStrings readUsbStrings(const fs::path& usbDevice) {
    return UsbStrings{readAttribute(usbDevice / "manufacturer"),
                      readAttribute(usbDevice / "product"), readAttribute(usbDevice / "serial"),
                      readAttribute(usbDevice / "bcdDevice")};
}

} // namespace qx::vm
