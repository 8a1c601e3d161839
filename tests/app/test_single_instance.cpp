// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include "tests/support/ForeignListener.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qx {
namespace {

using Outcome = SingleInstance::Outcome;

QString uniqueKey() {
    return QStringLiteral("Tfmain-QX-77ZT-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

// Each test has a runtime folder of its own.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString folder() const { return dir_.path(); }
    QString endpointPath(const QString& key) const {
        return SingleInstance::endpointName(key, folder());
    }

    QTemporaryDir dir_;
};

TEST_F(SingleInstanceTest, ALaterCopyAsksTheFirstToShowItselfAndLeaves) {
    const QString key = uniqueKey();
    SingleInstance first(key, folder());
    ASSERT_EQ(first.claim(), Outcome::First);
    EXPECT_TRUE(first.listening());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    SingleInstance second(key, folder());
    EXPECT_EQ(second.claim(), Outcome::Delivered);
    EXPECT_TRUE(raised.wait(3000));
    EXPECT_EQ(raised.count(), 1);

    // A copy of another program (another window class or caption) is not a copy of this one.
    SingleInstance other(key + QStringLiteral("-other"), folder());
    EXPECT_EQ(other.claim(), Outcome::First);
}

TEST_F(SingleInstanceTest, EndpointLeftByAKilledCopyIsTakenOver) {
    // A killed copy leaves its socket file behind (and a lock that names a dead process).
    const QString key = uniqueKey();
    const QByteArray path = QFile::encodeName(endpointPath(key));
    const int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(dead, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(dead, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(dead);
    ASSERT_TRUE(QFile::exists(endpointPath(key)));

    SingleInstance first(key, folder());
    ASSERT_EQ(first.claim(), Outcome::First);
    EXPECT_TRUE(first.listening()) << first.error().toStdString();
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    SingleInstance second(key, folder());
    EXPECT_EQ(second.claim(), Outcome::Delivered);
    EXPECT_TRUE(raised.wait(3000));
}

TEST_F(SingleInstanceTest, UnreachableFirstCopyIsToldFromADeliveredRequest) {
    // Something that is no socket holds the endpoint's name: the first copy runs but cannot
    // listen, and says so.
    const QString key = uniqueKey();
    ASSERT_TRUE(QDir().mkpath(endpointPath(key)));
    {
        SingleInstance first(key, folder());
        ASSERT_EQ(first.claim(), Outcome::First);
        EXPECT_FALSE(first.listening());
        EXPECT_FALSE(first.error().isEmpty());

        // A later copy tries for a while, then says it gave up instead of claiming success.
        SingleInstance later(key, folder());
        EXPECT_EQ(later.claim(), Outcome::GaveUp);
        EXPECT_FALSE(later.error().isEmpty());
    }
    ASSERT_TRUE(QDir().rmdir(endpointPath(key)));

    // The same for a first copy that holds the lock but never listens (hung while starting).
    QLockFile lock(SingleInstance::lockFileName(key, folder()));
    ASSERT_TRUE(lock.tryLock(0));
    SingleInstance later(key, folder());
    EXPECT_EQ(later.claim(), Outcome::GaveUp);
}

TEST_F(SingleInstanceTest, ALaterCopyAsksNothingOfAnotherUsersListener) {
    if (!test::ForeignListener::possible()) {
        GTEST_SKIP() << "a process of another user needs root";
    }
    // As when another user got there first: the first copy's lock is held and another user's
    // process listens at the endpoint. Nothing is sent there and the copy says why.
    QTemporaryDir shared;
    ASSERT_TRUE(QFile::setPermissions(shared.path(), QFileDevice::Permissions(0x7777)));
    const QString key = uniqueKey();
    QLockFile lock(SingleInstance::lockFileName(key, shared.path()));
    ASSERT_TRUE(lock.tryLock(0));
    const test::ForeignListener foreign(
        QFile::encodeName(SingleInstance::endpointName(key, shared.path())).toStdString());
    ASSERT_TRUE(foreign.ready());

    SingleInstance later(key, shared.path());
    EXPECT_EQ(later.claim(), Outcome::GaveUp);
    EXPECT_TRUE(later.error().contains(QLatin1String("another user")))
        << later.error().toStdString();
}

} // namespace
} // namespace qx
