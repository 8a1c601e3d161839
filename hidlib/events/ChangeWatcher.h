// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a readable descriptor of device changes into calls on the thread that watches it, from
// that thread's Qt event loop.
#ifndef QX_HID_EVENTS_CHANGEWATCHER_H
#define QX_HID_EVENTS_CHANGEWATCHER_H

#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace hid {

class ChangeWatcher {
public:
    // Whether the calling thread has a Qt event dispatcher to watch with.
    static bool canWatchHere();

    // Watches `fd` on the calling thread, which must be able to (canWatchHere). Each time it is
    // readable, drain() takes what is waiting and says how many changes that was; onChange runs
    // once for each.
    ChangeWatcher(int fd, std::function<int()> drain, std::function<void()> onChange);
    // Best called on the watching thread; elsewhere the watcher is only cut off and the
    // notifier left to that thread to delete.
    ~ChangeWatcher();
    ChangeWatcher(const ChangeWatcher&) = delete;
    ChangeWatcher& operator=(const ChangeWatcher&) = delete;

private:
    QSocketNotifier* notifier_;
};

// A module's watcher, made on the first thread that can watch: the loading thread when it already
// runs a Qt event loop, else the thread that registers the device-change handler.
class DeferredChangeWatcher {
public:
    // Starts watching here unless already watching or this thread cannot.
    void watch(int fd, const std::function<int()>& drain, const std::function<void()>& onChange) {
        std::lock_guard lock(mutex_);
        if (watcher_ || fd < 0 || !ChangeWatcher::canWatchHere())
            return;
        watcher_ = std::make_unique<ChangeWatcher>(fd, drain, onChange);
    }

private:
    std::mutex mutex_;
    std::unique_ptr<ChangeWatcher> watcher_; // guarded by mutex_
};

} // namespace hid

#endif
