// SPDX-License-Identifier: GPL-3.0-or-later
// The module over the system's HID class driver.
#include "hidlib/core/Library.h"
#include "hidlib/module/Module.h"
#include "hidlib/windows/ChangeRelay.h"
#include "hidlib/windows/DeviceNotifier.h"
#include "hidlib/windows/WindowsBackend.h"

// The HID class headers declare their functions without C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <memory>
#include <mutex>

namespace {

struct WindowsModule {
    explicit WindowsModule(HINSTANCE module) : instance(module) {}

    // Device changes are watched from the first registration of a handler on: the relay's
    // window on the registering thread (in a program, the one that loaded the module), the
    // notifier's on a thread of its own. Neither is made while the module loads: window calls
    // under the system's loader lock may load other modules and deadlock, and a window made
    // then would belong to whichever thread loads the module, pumping or not.
    void watch() {
        std::call_once(watching, [this] {
            relay = std::make_unique<hid::ChangeRelay>(instance,
                                                       [this] { library.notifyDeviceChange(); });
            GUID hidClass;
            HidD_GetHidGuid(&hidClass);
            notifier = std::make_unique<hid::DeviceNotifier>(instance, hidClass,
                                                             [this] { relay->post(); });
        });
    }

    const HINSTANCE instance;
    hid::WindowsBackend backend;
    hid::Library library{backend};
    std::once_flag watching;
    std::unique_ptr<hid::ChangeRelay> relay;
    std::unique_ptr<hid::DeviceNotifier> notifier;
};

WindowsModule* loaded = nullptr; // made on the thread that loads the module

} // namespace

// The module stays in the process once loaded, and its objects are never torn down. Unloading
// runs under the system's loader lock, which the reader and notifier threads need in order to
// end: joining them there would hang the caller of FreeLibrary, and leaving them running would
// run code that is no longer mapped. At process exit the system ends them itself.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE pinned = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_PIN,
                                reinterpret_cast<LPCWSTR>(&DllMain), &pinned))
            return FALSE;
        loaded = new WindowsModule(instance);
    }
    return TRUE;
}

namespace hid {

Library& moduleLibrary() {
    return loaded->library;
}

void moduleWatchDeviceChanges() {
    loaded->watch();
}

} // namespace hid
