// SPDX-License-Identifier: GPL-3.0-or-later
// The show request a later copy sends with its activation tokens: what the first copy reads
// from it, and that copies from before the tokens still understand each other.
#include "app/ShowRequest.h"
#include "app/SingleInstance.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qx {
namespace {

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::optional<ShowRequest> expected;
};

TEST(ShowRequest, DecodesWhatALaterCopySends) {
    const std::string longToken(kMaxActivationToken + 1, 'a');
    const DecodeCase cases[] = {
        {"show line alone (a copy from before the tokens)", "show\n", ShowRequest{}},
        {"both tokens", "xdg-activation-token abc_1\ndesktop-startup-id me-1_TIME42\nshow\n",
         ShowRequest{"abc_1", "me-1_TIME42"}},
        {"an unknown line is skipped", "colour blue\nxdg-activation-token t\nshow\n",
         ShowRequest{"t", ""}},
        {"a token with a space is dropped, the request stands", "xdg-activation-token a b\nshow\n",
         ShowRequest{}},
        {"a token with a control character is dropped", "xdg-activation-token a\tb\nshow\n",
         ShowRequest{}},
        {"an over-long token is dropped", "xdg-activation-token " + longToken + "\nshow\n",
         ShowRequest{}},
        {"what follows the show line is not read", "show\nxdg-activation-token t\n", ShowRequest{}},
        {"no show line yet", "xdg-activation-token t\n", std::nullopt},
        {"a line cut short", "xdg-activation-token t\nsho", std::nullopt},
        {"nothing", "", std::nullopt},
        {"the show line without its end", "show", std::nullopt},
        {"past the bound", std::string(kMaxShowRequest, '\n') + "show\n", std::nullopt},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<ShowRequest> got = decodeShowRequest(c.bytes);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (got) {
            EXPECT_EQ(got->activationToken, c.expected->activationToken);
            EXPECT_EQ(got->startupId, c.expected->startupId);
        }
    }
}

TEST(ShowRequest, EncodedRequestReadsBackAndEndsWithTheShowLine) {
    const ShowRequest sent{"tok-1", "id_TIME7"};
    const std::string bytes = encodeShowRequest(sent);
    // A first copy from before the tokens looks for the show line anywhere in what it got.
    EXPECT_TRUE(bytes.ends_with(kShowLine));
    const std::optional<ShowRequest> back = decodeShowRequest(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->activationToken, "tok-1");
    EXPECT_EQ(back->startupId, "id_TIME7");
    // A token that could break the line is never sent.
    EXPECT_EQ(encodeShowRequest({"a\nshow", ""}), "show\n");
    EXPECT_FALSE(mayBeShowRequest(bytes));
    EXPECT_TRUE(mayBeShowRequest("xdg-activation-token tok"));
}

class ShowRequestDelivery : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    const QString key_ =
        QStringLiteral("Tfmain-QX-77ZT-test-") + QUuid::createUuid().toString(QUuid::Id128);
    QTemporaryDir dir_;
};

TEST_F(ShowRequestDelivery, TheFirstCopyGetsTheLaterCopysTokens) {
    SingleInstance first(key_, dir_.path());
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    SingleInstance second(key_, dir_.path());
    second.showRequest = {"token-of-the-second-start", "startup_TIME9"};
    EXPECT_EQ(second.claim(), SingleInstance::Outcome::Delivered);
    ASSERT_TRUE(raised.wait(5000));
    ASSERT_EQ(raised.count(), 1);
    EXPECT_EQ(raised.at(0).at(0).toString(), QStringLiteral("token-of-the-second-start"));
    EXPECT_EQ(raised.at(0).at(1).toString(), QStringLiteral("startup_TIME9"));
}

TEST_F(ShowRequestDelivery, ARequestInPiecesIsReadWhole) {
    SingleInstance first(key_, dir_.path());
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    QLocalSocket peer;
    peer.connectToServer(first.serverPath());
    ASSERT_TRUE(peer.waitForConnected(3000));
    peer.write("xdg-activation-token split");
    ASSERT_TRUE(peer.waitForBytesWritten(3000));
    // The first piece alone is no request: nothing yet, and the connection stays.
    EXPECT_FALSE(raised.wait(300));
    EXPECT_EQ(peer.state(), QLocalSocket::ConnectedState);
    peer.write("-token\nshow\n");
    ASSERT_TRUE(peer.waitForBytesWritten(3000));
    ASSERT_TRUE(raised.wait(5000));
    EXPECT_EQ(raised.at(0).at(0).toString(), QStringLiteral("split-token"));
}

TEST_F(ShowRequestDelivery, ARequestNeverFinishedDoesNotHoldTheConnection) {
    SingleInstance first(key_, dir_.path());
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    QLocalSocket peer;
    peer.connectToServer(first.serverPath());
    ASSERT_TRUE(peer.waitForConnected(3000));
    peer.write("xdg-activation-token never-ended");
    ASSERT_TRUE(peer.waitForBytesWritten(3000));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 20000));
    EXPECT_EQ(raised.count(), 0);
}

TEST_F(ShowRequestDelivery, AnythingElseIsNoShowRequest) {
    SingleInstance first(key_, dir_.path());
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    QLocalSocket peer;
    peer.connectToServer(first.serverPath());
    ASSERT_TRUE(peer.waitForConnected(3000));
    peer.write("hello\n");
    ASSERT_TRUE(peer.waitForBytesWritten(3000));
    // Answered by the end of the connection, without a raise.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(raised.count(), 0);
}

} // namespace
} // namespace qx
