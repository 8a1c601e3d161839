// SPDX-License-Identifier: GPL-3.0-or-later
// Where a device is plugged in, as the operator can find it: the USB port of a HID node.
#pragma once

#include <string>

namespace qx::room {

// The port ("usb 1-2.3") of the device at the library's `path`; the path itself when the system
// does not say.
std::string devicePlace(const std::string& path);

} // namespace qx::room
