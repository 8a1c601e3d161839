// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/DevicePlace.h"

#include <filesystem>
#include <system_error>

namespace qx {

namespace {

// "1-2" or "1-2.3": a USB port as the kernel names the devices plugged into it.
bool isPortName(const std::string& name) {
    const auto dash = name.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == name.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (i != dash && c != '.' && (c < '0' || c > '9')) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string devicePlace(const std::string& path) {
    const std::filesystem::path node(path);
    if (node.parent_path() != "/dev") {
        return path;
    }
    std::error_code ec;
    const std::filesystem::path device = std::filesystem::canonical(
        std::filesystem::path("/sys/class/hidraw") / node.filename() / "device", ec);
    if (ec) {
        return path;
    }
    // The innermost port on the way from the bus to the HID device.
    std::string port;
    for (const auto& part : device) {
        if (isPortName(part.string())) {
            port = part.string();
        }
    }
    return port.empty() ? path : "usb " + port;
}

} // namespace qx
