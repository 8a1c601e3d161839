// A hidden top-level window on the thread that makes it, turning the device-change messages the
// system sends to every top-level window into calls of a function. Its messages arrive only
// while that thread dispatches window messages.
#ifndef QX_HID_WINDOWS_CHANGEWINDOW_H
#define QX_HID_WINDOWS_CHANGEWINDOW_H

#include <windows.h>

#include <functional>

namespace hid {

class ChangeWindow {
public:
    // `onChange` runs on the making thread for every WM_DEVICECHANGE.
    explicit ChangeWindow(HINSTANCE instance, std::function<void()> onChange);
    // Must run on the making thread, as the system requires of DestroyWindow.
    ~ChangeWindow();
    ChangeWindow(const ChangeWindow&) = delete;
    ChangeWindow& operator=(const ChangeWindow&) = delete;

    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);

    HINSTANCE instance_;
    std::function<void()> onChange_;
    HWND window_ = nullptr;
};

} // namespace hid

#endif
