// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the udev and sysfs value parsers: HID_ID and hexadecimal attributes come from
// whatever device is plugged in.
#include "hidlib/linux/SysfsValues.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so any read past the end is caught.
    const std::unique_ptr<char[]> copy(new char[size]);
    if (size != 0)
        std::memcpy(copy.get(), data, size);
    const std::string_view text(copy.get(), size);
    if (const auto id = hid::parseHidId(text)) {
        if (text.find(':') == std::string_view::npos)
            std::abort();
    }
    if (const auto value = hid::parseHex16(text)) {
        if (text.empty())
            std::abort();
    }
    return 0;
}
