// SPDX-License-Identifier: GPL-3.0-or-later
// A device that stopped taking reports, as the kernel shows it: a report is held until the test
// lets go (the kernel's own timeout is several seconds). Shared with the writer's thread, which
// may outlive the test's objects.
#ifndef QX_TESTS_HIDLIB_STALLINGDEVICE_H
#define QX_TESTS_HIDLIB_STALLINGDEVICE_H

#include "hidlib/linux/BoundedWriter.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

namespace hidtest {

struct Stall {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false, left = false;

    bool hold() {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        left = true;
        changed.notify_all();
        return true;
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool hasLeft() {
        std::lock_guard lock(mutex);
        return left;
    }
    bool waitEntered() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return entered; });
    }
    bool waitLeft() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return left; });
    }
};

inline hid::BoundedWriter::WriteOnce stalling(const std::shared_ptr<Stall>& stall) {
    return [stall](int, std::span<const uint8_t>, hid::BoundedWriter::Clock::time_point) {
        return stall->hold();
    };
}

// Runs `action` and says whether it returned while the device still held its report (within
// 5 s, as long as the kernel's own timeout); the stall is let go afterwards either way, so an
// action that waits for it does not hang the test.
inline bool endsWithoutTheStall(const std::shared_ptr<Stall>& stall, std::function<void()> action) {
    auto done = std::async(std::launch::async, std::move(action));
    const bool inTime = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    const bool stillStalled = !stall->hasLeft();
    stall->release();
    done.wait();
    return inTime && stillStalled;
}

} // namespace hidtest

#endif
