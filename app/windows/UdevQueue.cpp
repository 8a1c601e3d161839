// SPDX-License-Identifier: GPL-3.0-or-later
// No udev here: the system's device arrivals come as they come, and the settle time alone waits
// out a burst.
#include "app/DeviceChangeSettler.h"

namespace qx {

bool udevEventsQueued() {
    return false;
}

} // namespace qx
