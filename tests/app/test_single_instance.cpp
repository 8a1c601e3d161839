#include "app/SingleInstance.h"

#include <QSignalSpy>
#include <QUuid>

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(SingleInstance, ALaterCopyAsksTheFirstToShowItselfAndLeaves) {
    const QString key =
        QStringLiteral("Tfmain-QX-77ZT-test-") + QUuid::createUuid().toString(QUuid::Id128);
    SingleInstance first(key);
    ASSERT_TRUE(first.claim());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    SingleInstance second(key);
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(raised.wait(3000));
    EXPECT_EQ(raised.count(), 1);

    // A copy of another program (another window class or caption) is not a copy of this one.
    SingleInstance other(key + QStringLiteral("-other"));
    EXPECT_TRUE(other.claim());
}

} // namespace
} // namespace qx
