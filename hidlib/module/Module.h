// SPDX-License-Identifier: GPL-3.0-or-later
// What each variant of the module provides to the shared C entry points (Exports.cpp): a glue
// source that makes a Library over its backend when the module is loaded.
#ifndef QX_HID_MODULE_MODULE_H
#define QX_HID_MODULE_MODULE_H

namespace hid {

class Library;

// The module's one library, alive from load to unload.
Library& moduleLibrary();
// Called on the thread registering a device-change handler: starts watching device changes
// there when that could not be done on the loading thread (no Qt event loop yet).
void moduleWatchDeviceChanges();

} // namespace hid

#endif
