// SPDX-License-Identifier: GPL-3.0-or-later
// Parsers for the small text values udev and sysfs give about a HID device.
#ifndef QX_HID_LINUX_SYSFSVALUES_H
#define QX_HID_LINUX_SYSFSVALUES_H

#include <cstdint>
#include <optional>
#include <string_view>

namespace hid {

struct HidId {
    uint16_t bus = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// The uevent value HID_ID, "BBBB:VVVVVVVV:PPPPPPPP" in hexadecimal; nullopt when malformed.
std::optional<HidId> parseHidId(std::string_view text);

// A hexadecimal 16-bit value such as the bcdDevice attribute ("0102"); nullopt when malformed.
std::optional<uint16_t> parseHex16(std::string_view text);

} // namespace hid

#endif
