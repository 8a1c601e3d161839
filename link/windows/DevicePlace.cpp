// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/DevicePlace.h"

namespace qx {

// The interface path names the port's instance already.
std::string devicePlace(const std::string& path) {
    return path;
}

} // namespace qx
