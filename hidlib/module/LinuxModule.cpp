// SPDX-License-Identifier: GPL-3.0-or-later
// The module over the machine's hidraw devices.
#include "hidlib/core/Library.h"
#include "hidlib/events/ChangeWatcher.h"
#include "hidlib/linux/LinuxBackend.h"
#include "hidlib/linux/UdevMonitor.h"
#include "hidlib/module/Module.h"

namespace {

// Members are made in this order at load and undone in reverse at unload: the watcher first,
// then the library (which stops and joins its reader) before the backend it uses.
struct LinuxModule {
    hid::UdevMonitor monitor; // before any scan
    hid::LinuxBackend backend;
    hid::Library library{backend};
    hid::DeferredChangeWatcher watcher;

    LinuxModule() { watch(); }

    void watch() {
        watcher.watch(
            monitor.fd(), [this] { return monitor.drain(); },
            [this] { library.notifyDeviceChange(); });
    }
};

LinuxModule loaded; // made on the thread that loads the module

} // namespace

namespace hid {

Library& moduleLibrary() {
    return loaded.library;
}

void moduleWatchDeviceChanges() {
    loaded.watch();
}

} // namespace hid
