// SPDX-License-Identifier: GPL-3.0-or-later
// Where a device is plugged in, as the operator can find it: the USB port of a HID node. Plain
// C++, for the command line as for the window program.
#pragma once

#include <string>

namespace qx {

// The port ("usb 1-2.3") of the device at the library's `path`; the path itself when the system
// does not say.
std::string devicePlace(const std::string& path);

} // namespace qx
