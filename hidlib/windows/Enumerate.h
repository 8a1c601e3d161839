// SPDX-License-Identifier: GPL-3.0-or-later
// The machine's HID interfaces as SetupApi lists them, each probed through a handle of its own.
#ifndef QX_HID_WINDOWS_ENUMERATE_H
#define QX_HID_WINDOWS_ENUMERATE_H

#include "hidlib/core/Backend.h"

#include <windows.h>

namespace hid {

// Opens a device path for reading and writing, or with no access rights (queries only), sharing
// both; overlapped for the open device. INVALID_HANDLE_VALUE on failure.
HANDLE openDevicePath(const std::string& path, bool readWrite, bool overlapped);

// The report lengths and value capabilities of an open handle; nullopt without a parsed
// descriptor. Reports on Windows always start with the report ID byte.
std::optional<DescriptorCaps> readCaps(HANDLE device);

// Present HID interfaces in SetupApi's order; devices that cannot be opened even for queries
// are left out.
std::vector<DeviceRecord> enumerateHidInterfaces();

} // namespace hid

#endif
