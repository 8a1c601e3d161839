// SPDX-License-Identifier: GPL-3.0-or-later
#include "room/DevicePlace.h"

namespace qx::room {

// The interface path names the port's instance already.
std::string devicePlace(const std::string& path) {
    return path;
}

} // namespace qx::room
