#include "hidlib/windows/ChangeWindow.h"

#include <dbt.h>

namespace hid {

namespace {

constexpr wchar_t kClassName[] = L"TPUtilWindow";

} // namespace

ChangeWindow::ChangeWindow(HINSTANCE instance, std::function<void()> onChange)
    : instance_(instance), onChange_(std::move(onChange)) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &ChangeWindow::procedure;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass); // fails harmlessly when already registered
    // A pop-up tool window without size or parent, never shown: top-level, so it receives the
    // system's broadcasts.
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, instance_, nullptr);
    if (window_ != nullptr)
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ChangeWindow::~ChangeWindow() {
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    UnregisterClassW(kClassName, instance_);
}

LRESULT CALLBACK ChangeWindow::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DEVICECHANGE) {
        auto* self = reinterpret_cast<ChangeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr && self->onChange_)
            self->onChange_();
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace hid
