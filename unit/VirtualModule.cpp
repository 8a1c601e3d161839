// The HID library module over virtual units, for the demo program and the end-to-end tests.
#include "hidlib/core/Library.h"
#include "hidlib/events/ChangeWatcher.h"
#include "hidlib/module/Module.h"
#include "unit/VirtualBackend.h"

#include <memory>
#include <mutex>

namespace {

// Made in this order at load, undone in reverse at unload: the watcher goes first, then the
// library (which joins its reader) before the backend it uses.
struct VirtualModule {
    qx::unit::VirtualBackend backend;
    hid::Library library{backend};
    std::mutex watcherMutex;
    std::unique_ptr<hid::ChangeWatcher> watcher; // guarded by watcherMutex

    VirtualModule() { watch(); }

    void watch() {
        std::lock_guard lock(watcherMutex);
        if (watcher || backend.changeFd() < 0 || !hid::ChangeWatcher::canWatchHere()) {
            return;
        }
        watcher = std::make_unique<hid::ChangeWatcher>(
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
