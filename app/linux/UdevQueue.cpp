// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DeviceChangeSettler.h"

#include <unistd.h>

namespace qx {

bool udevEventsQueued() {
    // udevd keeps this file while its event queue is not empty.
    return ::access("/run/udev/queue", F_OK) == 0;
}

} // namespace qx
