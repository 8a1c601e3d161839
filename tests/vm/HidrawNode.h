// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the hidraw node of a USB HID device through sysfs and reads what the USB layer says about
// the device: the strings and the release number, as the HID library on Linux takes them.
#ifndef QX_TESTS_VM_HIDRAWNODE_H
#define QX_TESTS_VM_HIDRAWNODE_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qx::vm {

struct UsbIds {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

struct HidrawNode {
    std::filesystem::path devNode;   // /dev/hidrawN
    std::filesystem::path usbDevice; // sysfs folder of the USB device above it
};

// The USB attributes of the device, each file's text without its trailing newline; empty when
// the device has no such attribute.
struct UsbStrings {
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string bcdDevice; // four hex digits, as sysfs gives them
};

// The first hidraw node under `sysClass` (normally /sys/class/hidraw) whose HID device is on the
// USB bus with these ids, or nothing.
std::optional<HidrawNode> findHidraw(const std::filesystem::path& sysClass, UsbIds ids);

UsbStrings readUsbStrings(const std::filesystem::path& usbDevice);

} // namespace qx::vm

#endif
