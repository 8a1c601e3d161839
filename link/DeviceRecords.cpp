// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/DeviceRecords.h"

namespace qx {

std::string sourceName(int index) {
    if (index >= 0 && index < 16) {
        return "SDI #" + std::to_string(index + 1);
    }
    if (index == 16) {
        return "ANALOG L";
    }
    if (index == 17) {
        return "ANALOG R";
    }
    return {};
}

} // namespace qx
