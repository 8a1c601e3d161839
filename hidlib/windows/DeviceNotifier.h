// SPDX-License-Identifier: GPL-3.0-or-later
// Arrivals and removals of one class of device interfaces (the HID interfaces), noticed on a
// thread of the notifier's own: a message-only window registered for that class's
// notifications, with a message loop that runs whatever the threads of the program do.
#ifndef QX_HID_WINDOWS_DEVICENOTIFIER_H
#define QX_HID_WINDOWS_DEVICENOTIFIER_H

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace hid {

class DeviceNotifier {
public:
    // Starts the thread and returns without waiting for its window. `onChange` runs on that
    // thread for every arrival or removal of an interface of `interfaceClass`, and for nothing
    // else.
    DeviceNotifier(HINSTANCE instance, const GUID& interfaceClass, std::function<void()> onChange);
    // Closes the window and joins the thread.
    ~DeviceNotifier();
    DeviceNotifier(const DeviceNotifier&) = delete;
    DeviceNotifier& operator=(const DeviceNotifier&) = delete;

    // Waits until the thread has made its window and registered it; the window, or nullptr when
    // either step failed.
    HWND window() const;

    // Whether a WM_DEVICECHANGE with these parameters is an arrival or removal of an interface
    // of `interfaceClass`.
    static bool isInterfaceChange(const GUID& interfaceClass, WPARAM event, LPARAM data);

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    void run(HINSTANCE instance);

    const GUID interfaceClass_;
    const std::function<void()> onChange_;
    mutable std::mutex mutex_;
    mutable std::condition_variable settled_;
    bool ready_ = false;    // guarded by mutex_: the thread has made its window, or failed
    HWND window_ = nullptr; // guarded by mutex_; set once before ready_
    std::thread thread_;
};

} // namespace hid

#endif
