// SPDX-License-Identifier: GPL-3.0-or-later
// The HID library module over virtual units, for the demo program and the end-to-end tests.
#include "hidlib/core/Library.h"
#include "hidlib/events/ChangeWatcher.h"
#include "hidlib/module/Module.h"
#include "unit/VirtualBackend.h"

namespace {

// Made in this order at load, undone in reverse at unload: the watcher goes first, then the
// library (which joins its reader) before the backend it uses.
struct VirtualModule {
    qx::unit::VirtualBackend backend;
    hid::Library library{backend};
    hid::DeferredChangeWatcher watcher;

    VirtualModule() { watch(); }

    void watch() {
        watcher.watch(
            backend.changeFd(), [this] { return backend.drain(); },
            [this] { library.notifyDeviceChange(); });
    }
};

VirtualModule loaded;

} // namespace

namespace hid {

Library& moduleLibrary() {
    return loaded.library;
}

void moduleWatchDeviceChanges() {
    loaded.watch();
}

} // namespace hid

extern "C" __attribute__((visibility("default"))) qx::unit::VirtualBench* VUcontrol(void) {
    return &loaded.backend;
}
