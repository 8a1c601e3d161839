// Turns a readable descriptor of device changes into calls on the thread that watches it, from
// that thread's Qt event loop.
#ifndef QX_HID_EVENTS_CHANGEWATCHER_H
#define QX_HID_EVENTS_CHANGEWATCHER_H

#include <functional>

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

} // namespace hid

#endif
