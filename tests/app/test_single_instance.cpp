#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
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

QString endpointPath(const QString& key) {
    return QDir::temp().filePath(SingleInstance::endpointName(key));
}

TEST(SingleInstance, ALaterCopyAsksTheFirstToShowItselfAndLeaves) {
    const QString key = uniqueKey();
    SingleInstance first(key);
    ASSERT_EQ(first.claim(), Outcome::First);
    EXPECT_TRUE(first.listening());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    SingleInstance second(key);
    EXPECT_EQ(second.claim(), Outcome::Delivered);
    EXPECT_TRUE(raised.wait(3000));
    EXPECT_EQ(raised.count(), 1);

    // A copy of another program (another window class or caption) is not a copy of this one.
    SingleInstance other(key + QStringLiteral("-other"));
    EXPECT_EQ(other.claim(), Outcome::First);
}

TEST(SingleInstance, EndpointLeftByAKilledCopyIsTakenOver) {
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

    SingleInstance first(key);
    ASSERT_EQ(first.claim(), Outcome::First);
    EXPECT_TRUE(first.listening()) << first.error().toStdString();
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    SingleInstance second(key);
    EXPECT_EQ(second.claim(), Outcome::Delivered);
    EXPECT_TRUE(raised.wait(3000));
}

TEST(SingleInstance, UnreachableFirstCopyIsToldFromADeliveredRequest) {
    // Something that is no socket holds the endpoint's name: the first copy runs but cannot
    // listen, and says so.
    const QString key = uniqueKey();
    ASSERT_TRUE(QDir().mkpath(endpointPath(key)));
    {
        SingleInstance first(key);
        ASSERT_EQ(first.claim(), Outcome::First);
        EXPECT_FALSE(first.listening());
        EXPECT_FALSE(first.error().isEmpty());

        // A later copy tries for a while, then says it gave up instead of claiming success.
        SingleInstance later(key);
        EXPECT_EQ(later.claim(), Outcome::GaveUp);
        EXPECT_FALSE(later.error().isEmpty());
    }
    ASSERT_TRUE(QDir().rmdir(endpointPath(key)));

    // The same for a first copy that holds the lock but never listens (hung while starting).
    QLockFile lock(endpointPath(key) + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.tryLock(0));
    SingleInstance later(key);
    EXPECT_EQ(later.claim(), Outcome::GaveUp);
}

} // namespace
} // namespace qx
