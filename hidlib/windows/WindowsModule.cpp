// The module over the system's HID class driver.
#include "hidlib/core/Library.h"
#include "hidlib/module/Module.h"
#include "hidlib/windows/ChangeWindow.h"
#include "hidlib/windows/WindowsBackend.h"

namespace {

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

// Made in this order at load and undone in reverse at unload: the window first goes, then the
// library (which stops and joins its reader) before the backend it uses.
struct WindowsModule {
    hid::WindowsBackend backend;
    hid::Library library{backend};
    hid::ChangeWindow window{thisModule(), [this] { library.notifyDeviceChange(); }};
};

WindowsModule loaded; // made on the thread that loads the module

} // namespace

namespace hid {

Library& moduleLibrary() {
    return loaded.library;
}

// The window is made on the loading thread at load; device changes reach it from then on.
void moduleWatchDeviceChanges() {}

} // namespace hid
