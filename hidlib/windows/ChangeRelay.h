// SPDX-License-Identifier: GPL-3.0-or-later
// Hands device changes noticed on one thread to the thread that made the relay, through that
// thread's own message dispatch. The relay is a message-only window: it receives no broadcasts,
// so a thread that never dispatches messages holds up nobody else.
#ifndef QX_HID_WINDOWS_CHANGERELAY_H
#define QX_HID_WINDOWS_CHANGERELAY_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>

namespace hid {

class ChangeRelay {
public:
    // `onChange` runs on the making thread, while it dispatches window messages, once for each
    // post() before.
    ChangeRelay(HINSTANCE instance, std::function<void()> onChange);
    // Must run on the making thread, as the system requires of DestroyWindow.
    ~ChangeRelay();
    ChangeRelay(const ChangeRelay&) = delete;
    ChangeRelay& operator=(const ChangeRelay&) = delete;

    // From any thread; never waits for the making thread. Posts that pile up while that thread
    // does not dispatch are one message, not one each.
    void post();
    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    void deliver();

    const std::function<void()> onChange_;
    HWND window_ = nullptr;
    std::atomic<uint32_t> pending_{0}; // changes posted, not yet delivered
};

} // namespace hid

#endif
