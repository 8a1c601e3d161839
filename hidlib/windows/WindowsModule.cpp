// The module over the system's HID class driver.
#include "hidlib/core/Library.h"
#include "hidlib/module/Module.h"
#include "hidlib/windows/ChangeWindow.h"
#include "hidlib/windows/WindowsBackend.h"

namespace {

// The hidden window first goes at unload, then the library (which stops its reader) before the
// backend it uses.
struct WindowsModule {
    explicit WindowsModule(HINSTANCE instance)
        : window(instance, [this] { library.notifyDeviceChange(); }) {}

    hid::WindowsBackend backend;
    hid::Library library{backend};
    hid::ChangeWindow window;
};

WindowsModule* loaded = nullptr; // made on the thread that loads the module

} // namespace

// The module stays in the process once loaded, and its objects are never torn down. Unloading
// runs under the system's loader lock, which the reader thread needs in order to end: joining it
// there would hang the caller of FreeLibrary, and leaving it running would run code that is no
// longer mapped. At process exit the system ends the reader itself.
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

// The window is made on the loading thread at load; device changes reach it from then on.
void moduleWatchDeviceChanges() {}

} // namespace hid
