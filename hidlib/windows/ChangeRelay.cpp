// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/windows/ChangeRelay.h"

namespace hid {

namespace {

constexpr wchar_t kClassName[] = L"QxHidChangeRelay";
constexpr UINT kChanged = WM_APP + 1;

} // namespace

ChangeRelay::ChangeRelay(HINSTANCE instance, std::function<void()> onChange)
    : onChange_(std::move(onChange)) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &ChangeRelay::procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass); // fails harmlessly when already registered
    window_ =
        CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
}

ChangeRelay::~ChangeRelay() {
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void ChangeRelay::post() {
    if (window_ == nullptr || pending_.fetch_add(1) != 0)
        return; // a message is on its way already and delivers this change too
    // A full queue (the making thread has stopped dispatching for good) loses the changes; the
    // next post tries again.
    if (!PostMessageW(window_, kChanged, 0, 0))
        pending_.store(0);
}

void ChangeRelay::deliver() {
    for (uint32_t n = pending_.exchange(0); n > 0; --n)
        onChange_();
}

LRESULT CALLBACK ChangeRelay::procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == kChanged) {
        if (auto* self = reinterpret_cast<ChangeRelay*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            self->deliver();
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace hid
