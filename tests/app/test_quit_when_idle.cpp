// SPDX-License-Identifier: GPL-3.0-or-later
// A request to end the program waits for a firmware transfer under way, and quits once.
#include "app/QuitWhenIdle.h"

#include <QTest>

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(QuitWhenIdle, QuitsAtOnceWhenIdleAndOnlyAfterATransferOtherwise) {
    bool busy = false;
    int quits = 0;
    QuitWhenIdle quit([&] { return busy; }, [&] { ++quits; });
    quit.request();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(quit.waiting());

    quits = 0;
    busy = true;
    quit.request();
    quit.request(); // a second signal while waiting
    QTest::qWait(200);
    EXPECT_EQ(quits, 0) << "quit in the middle of a transfer";
    EXPECT_TRUE(quit.waiting());
    busy = false;
    EXPECT_TRUE(QTest::qWaitFor([&] { return quits > 0; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(quit.waiting());
}

} // namespace
} // namespace qx
