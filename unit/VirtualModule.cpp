// SPDX-License-Identifier: GPL-3.0-or-later
// The HID library module over virtual units, for the demo program and the end-to-end tests.
#include "hidlib/core/Library.h"
#include "hidlib/events/ChangeWatcher.h"
#include "hidlib/module/Module.h"
#include "unit/VirtualBackend.h"

#include <cstring>
#include <typeinfo>

namespace {

// Made in this order at load, undone in reverse at unload: the watcher goes first, then the
// library (which joins its reader) before the backend it uses, and the backend leaves whatever
// bench it joined before this copy's own bench goes.
struct VirtualModule {
    qx::unit::UnitBench bench;
    qx::unit::VirtualBackend backend{bench};
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
    return &loaded.backend.bench();
}

extern "C" __attribute__((visibility("default"))) void VUjoin(qx::unit::VirtualBench* bench) {
    // Each copy has type records of its own, so the type is told by its name: only a bench of
    // another copy of this module is taken.
    if (bench == nullptr ||
        std::strcmp(typeid(*bench).name(), typeid(qx::unit::UnitBench).name()) != 0) {
        return;
    }
    loaded.backend.join(*static_cast<qx::unit::UnitBench*>(bench));
}
