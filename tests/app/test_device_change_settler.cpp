// SPDX-License-Identifier: GPL-3.0-or-later
// A burst of device events leads to one reconnection once it has settled and the system has
// finished with it; one that must wait for a transfer is tried again until it happens; then no
// timer is left running.
#include "app/DeviceChangeSettler.h"

#include <QTest>

#include <gtest/gtest.h>

namespace qx {
namespace {

using namespace std::chrono_literals;

constexpr DeviceChangeSettler::Timing kQuick{20ms, 10ms, 3000ms};

TEST(DeviceChangeSettler, OneReconnectionPerBurst) {
    int follows = 0;
    DeviceChangeSettler settler([&] { return ++follows, true; }, kQuick);
    EXPECT_FALSE(settler.due());
    for (int event = 0; event < 7; ++event)
        settler.changed();
    EXPECT_EQ(follows, 0) << "followed before the burst settled";
    ASSERT_TRUE(QTest::qWaitFor([&] { return follows > 0; }, 5000));
    EXPECT_FALSE(settler.due()) << "a timer runs with nothing due";
    EXPECT_EQ(follows, 1);

    settler.changed(); // the next plug
    settler.changed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return follows > 1; }, 5000));
    EXPECT_EQ(follows, 2);
    EXPECT_FALSE(settler.due());
}

TEST(DeviceChangeSettler, AHeldBackReconnectionIsTriedUntilItHappens) {
    bool transferRunning = true;
    int tries = 0, follows = 0;
    DeviceChangeSettler settler(
        [&] {
            ++tries;
            if (transferRunning)
                return false;
            ++follows;
            return true;
        },
        kQuick);
    settler.changed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tries >= 3; }, 5000));
    EXPECT_EQ(follows, 0);
    EXPECT_TRUE(settler.due());
    transferRunning = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return follows > 0; }, 5000));
    EXPECT_EQ(follows, 1);
    EXPECT_FALSE(settler.due());
}

// On a slow machine the events of one plug come further apart than the settling time; while
// udev is still at work on them the reconnection waits, but not for ever.
TEST(DeviceChangeSettler, WaitsWhileTheSystemIsBusyUpToALimit) {
    struct Case {
        const char* what;
        std::chrono::milliseconds busyLimit;
        bool busyForEver;
    };
    for (const Case& c : {Case{"busy for a while", 3000ms, false},
                          Case{"busy for ever: followed after the limit", 100ms, true}}) {
        SCOPED_TRACE(c.what);
        bool busy = true;
        int busyChecks = 0, follows = 0;
        DeviceChangeSettler settler([&] { return ++follows, true; }, {10ms, 10ms, c.busyLimit},
                                    [&] { return ++busyChecks, busy; });
        settler.changed();
        if (!c.busyForEver) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return busyChecks >= 3; }, 5000));
            EXPECT_EQ(follows, 0) << "followed while the system was busy";
            busy = false;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return follows > 0; }, 5000));
        EXPECT_EQ(follows, 1);
        EXPECT_FALSE(settler.due());
    }
}

} // namespace
} // namespace qx
