// SPDX-License-Identifier: GPL-3.0-or-later
// The device list of a scan that opens every hidraw node, as the reference the library's table
// must equal field for field.
#pragma once

#include "hidlib/core/Backend.h"

#include <vector>

namespace qx::vm {

std::vector<hid::DeviceRecord> referenceScan();

} // namespace qx::vm
