// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/windows/DeviceNotifier.h"

#include <dbt.h>

#include <cstddef>

namespace hid {

namespace {

constexpr wchar_t kClassName[] = L"QxHidDeviceNotifier";

// What the window's procedure needs; lives on the notifier's thread for the window's lifetime.
struct WindowState {
    const GUID* interfaceClass;
    const std::function<void()>* onChange;
    HDEVNOTIFY registration = nullptr;
};

} // namespace

DeviceNotifier::DeviceNotifier(HINSTANCE instance, const GUID& interfaceClass,
                               std::function<void()> onChange)
    : interfaceClass_(interfaceClass), onChange_(std::move(onChange)) {
    thread_ = std::thread([this, instance] { run(instance); });
}

DeviceNotifier::~DeviceNotifier() {
    const HWND w = window();
    if (w != nullptr)
        PostMessageW(w, WM_CLOSE, 0, 0);
    if (thread_.joinable())
        thread_.join();
}

HWND DeviceNotifier::window() const {
    std::unique_lock lock(mutex_);
    settled_.wait(lock, [&] { return ready_; });
    return window_;
}

bool DeviceNotifier::isInterfaceChange(const GUID& interfaceClass, WPARAM event, LPARAM data) {
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || data == 0)
        return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name))
        return false;
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
    return IsEqualGUID(device->dbcc_classguid, interfaceClass) != 0;
}

void DeviceNotifier::run(HINSTANCE instance) {
    WindowState state{&interfaceClass_, &onChange_};
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &DeviceNotifier::procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass); // fails harmlessly when already registered
    HWND window =
        CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, &state);
    if (window != nullptr) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass_;
        state.registration =
            RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (state.registration == nullptr) {
            DestroyWindow(window);
            window = nullptr;
        }
    }
    {
        std::lock_guard lock(mutex_);
        window_ = window;
        ready_ = true;
    }
    settled_.notify_all();
    if (window == nullptr)
        return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LRESULT CALLBACK DeviceNotifier::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return DefWindowProcW(window, message, w, l);
    }
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_DEVICECHANGE:
        if (state != nullptr && isInterfaceChange(*state->interfaceClass, w, l))
            (*state->onChange)();
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (state != nullptr && state->registration != nullptr)
            UnregisterDeviceNotification(state->registration);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, w, l);
    }
}

} // namespace hid
