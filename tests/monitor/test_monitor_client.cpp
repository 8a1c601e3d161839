// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's side of the hand-over against a monitor the test plays: the answer it
// waits for, a monitor that never answers or goes, and none at all. The window must never wait
// longer than its patience, and keeps the connection open whatever the outcome.
#include "monitor/MonitorClient.h"
#include "monitor/MonitorProtocol.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

namespace qx::monitor {
namespace {

constexpr int kPatienceMs = 20000;

enum class Played { Nobody, Releases, Silent, GoesAway, Chatters };

struct ClientCase {
    const char* name;
    Played monitor;
    MonitorClient::Outcome outcome;
    bool handingOver;
};

const ClientCase kClientCases[] = {
    {"NoMonitorRuns", Played::Nobody, MonitorClient::Outcome::NoMonitor, false},
    {"MonitorLetsGo", Played::Releases, MonitorClient::Outcome::Released, true},
    {"MonitorNeverAnswers", Played::Silent, MonitorClient::Outcome::NoAnswer, true},
    {"MonitorGoesBeforeLettingGo", Played::GoesAway, MonitorClient::Outcome::NoAnswer, true},
    {"MonitorSendsSomethingElse", Played::Chatters, MonitorClient::Outcome::NoAnswer, true},
};

class MonitorClientCase : public ::testing::TestWithParam<ClientCase> {};

TEST_P(MonitorClientCase, EndsOnceWithTheOutcomeAndKeepsTheConnection) {
    const ClientCase& c = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString endpoint = folder.filePath(QStringLiteral("monitor"));
    QLocalServer monitor;
    QPointer<QLocalSocket> peer;
    QByteArray asked;
    if (c.monitor != Played::Nobody) {
        ASSERT_TRUE(monitor.listen(endpoint));
        QObject::connect(&monitor, &QLocalServer::newConnection, [&] {
            peer = monitor.nextPendingConnection();
            QObject::connect(peer, &QLocalSocket::readyRead, [&] {
                asked += peer->readAll();
                if (asked != kReleaseRequest) {
                    return;
                }
                switch (c.monitor) {
                case Played::Releases:
                    peer->write(kReleasing + kReleased);
                    break;
                case Played::GoesAway:
                    peer->write(kReleasing);
                    peer->disconnectFromServer();
                    break;
                case Played::Chatters:
                    peer->write(QByteArray(100, 'x'));
                    break;
                default:
                    break;
                }
            });
        });
    }

    // Short, so that a silent monitor is given up on within the test.
    MonitorClient client(endpoint, std::chrono::milliseconds(1500));
    int finished = 0;
    bool handingOver = false;
    QObject::connect(&client, &MonitorClient::finished, [&] { ++finished; });
    QObject::connect(&client, &MonitorClient::handingOver, [&] { handingOver = true; });
    client.ask();
    // Told from the event loop, never from inside the call.
    EXPECT_EQ(finished, 0);
    EXPECT_TRUE(client.waiting());
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished > 0; }, kPatienceMs));
    EXPECT_EQ(client.outcome(), c.outcome);
    EXPECT_EQ(handingOver, c.handingOver);
    if (c.monitor != Played::Nobody) {
        EXPECT_EQ(asked, kReleaseRequest);
    }
    // Once: the connection closing later changes nothing.
    QTest::qWait(200);
    if (peer) {
        peer->disconnectFromServer();
    }
    QTest::qWait(200);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(client.outcome(), c.outcome);
}

INSTANTIATE_TEST_SUITE_P(Monitors, MonitorClientCase, ::testing::ValuesIn(kClientCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The monitor takes the units back when the window program's connection closes: the client
// holds it open for as long as it lives, whatever it was told.
TEST(MonitorClient, HoldsTheConnectionUntilItGoes) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString endpoint = folder.filePath(QStringLiteral("monitor"));
    QLocalServer monitor;
    ASSERT_TRUE(monitor.listen(endpoint));
    QPointer<QLocalSocket> peer;
    bool closed = false;
    QObject::connect(&monitor, &QLocalServer::newConnection, [&] {
        peer = monitor.nextPendingConnection();
        QObject::connect(peer, &QLocalSocket::disconnected, [&] { closed = true; });
        QObject::connect(peer, &QLocalSocket::readyRead, [&] {
            peer->readAll();
            peer->write(kReleased);
        });
    });
    auto client = std::make_unique<MonitorClient>(endpoint);
    client->ask();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client->waiting(); }, kPatienceMs));
    ASSERT_EQ(client->outcome(), MonitorClient::Outcome::Released);
    QTest::qWait(300);
    EXPECT_FALSE(closed);
    client.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed; }, kPatienceMs));
}

} // namespace
} // namespace qx::monitor
