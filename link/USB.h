// SPDX-License-Identifier: GPL-3.0-or-later
// The device link as the windows see it: the mailbox and flags, frames in reports, the link
// worker, and the binding of the HID library with the connection to the unit.
#pragma once

#include "link/DeviceRecords.h"
#include "link/HandlerSlots.h"
#include "link/LibraryBinding.h"
#include "link/LinkFrame.h"
#include "link/LinkState.h"
#include "link/LinkWorker.h"
#include "link/Transport.h"
#include "link/UsbLink.h"
#include "link/crc.h"
