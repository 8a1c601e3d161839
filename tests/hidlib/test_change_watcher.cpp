// SPDX-License-Identifier: GPL-3.0-or-later
// Device changes reach the device-change handler on the watching thread, from its event loop.
#include "FakeBackend.h"
#include "hidlib/core/Library.h"
#include "hidlib/events/ChangeWatcher.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::mutex changesMutex;
std::vector<std::thread::id> changes; // guarded by changesMutex

void HID_LIB_CALL onChange() {
    std::lock_guard lock(changesMutex);
    changes.push_back(std::this_thread::get_id());
}

size_t changeCount() {
    std::lock_guard lock(changesMutex);
    return changes.size();
}

// A stand-in for the udev monitor: an eventfd whose counter is the number of changes.
struct FakeEventSource {
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~FakeEventSource() { ::close(fd); }
    void announce(uint64_t n) const { ASSERT_EQ(::write(fd, &n, sizeof n), ssize_t(sizeof n)); }
    int drain() const {
        uint64_t n = 0;
        return ::read(fd, &n, sizeof n) == sizeof n ? static_cast<int>(n) : 0;
    }
};

TEST(ChangeWatcher, EachChangeCallsTheHandlerOnTheWatchingThread) {
    {
        std::lock_guard lock(changesMutex);
        changes.clear();
    }
    ASSERT_TRUE(hid::ChangeWatcher::canWatchHere());
    hidtest::FakeBackend backend;
    hid::Library lib(backend);
    FakeEventSource source;
    hid::ChangeWatcher watcher(
        source.fd, [&] { return source.drain(); }, [&] { lib.notifyDeviceChange(); });

    // Changes before registration reach nobody; those after do, once each.
    source.announce(1);
    QCoreApplication::processEvents();
    lib.setDeviceChangeHandler(&onChange);
    std::thread other([&] { source.announce(3); });
    other.join();
    EXPECT_TRUE(QTest::qWaitFor([] { return changeCount() >= 3; }, 2000));
    QTest::qWait(20);
    std::lock_guard lock(changesMutex);
    ASSERT_EQ(changes.size(), 3u);
    for (const auto id : changes)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(ChangeWatcher, NoThreadWithoutAnEventLoopCanWatch) {
    bool canWatch = true;
    std::thread plain([&] { canWatch = hid::ChangeWatcher::canWatchHere(); });
    plain.join();
    EXPECT_FALSE(canWatch);
}

} // namespace
