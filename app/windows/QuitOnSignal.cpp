// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no POSIX signals. A window program has no console, and the end of the session
// reaches Qt as WM_QUERYENDSESSION, which closes the windows like the operator would. Where the
// program runs attached to a console, ^C and ^Break come to a console control handler on a
// thread of the system's own; they are handed to this object's thread as SIGINT.
#include "app/QuitOnSignal.h"

#include <QMetaObject>
#include <QPointer>

#include <mutex>

#include <windows.h>

namespace qx {

namespace {

std::mutex current_mutex;
// The object that takes the requests; set and cleared under current_mutex.
QuitOnSignal* current = nullptr;

} // namespace

struct QuitOnSignal::Hook {
    // Runs on the system's thread: queues the hand-off while the object is known to be alive
    // (the destructor clears `current` under the same lock, and Qt drops calls queued to an
    // object that is gone).
    static BOOL WINAPI onControl(DWORD type) {
        if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
            return FALSE; // a closed console, log-off or shutdown: the system's own handling
        }
        const std::lock_guard lock(current_mutex);
        if (current == nullptr) {
            return FALSE;
        }
        QuitOnSignal* target = current;
        QMetaObject::invokeMethod(
            target, [target] { target->deliver({SIGINT}); }, Qt::QueuedConnection);
        return TRUE;
    }
    bool installed = false;
};

QuitOnSignal::QuitOnSignal(QObject* parent) : QObject(parent), hook_(std::make_unique<Hook>()) {
    {
        const std::lock_guard lock(current_mutex);
        current = this;
    }
    hook_->installed = SetConsoleCtrlHandler(&Hook::onControl, TRUE) != 0;
}

QuitOnSignal::~QuitOnSignal() {
    if (hook_->installed) {
        SetConsoleCtrlHandler(&Hook::onControl, FALSE);
    }
    const std::lock_guard lock(current_mutex);
    if (current == this) {
        current = nullptr;
    }
}

} // namespace qx
