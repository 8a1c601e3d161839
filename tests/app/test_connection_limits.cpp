// SPDX-License-Identifier: GPL-3.0-or-later
// The first copy's endpoint under load from its own user: connections that say nothing are
// dropped, only so many are open at once (one more is told so), and the endpoint listens again
// after its server has closed.
#include "app/SingleInstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace qx {
namespace {

using namespace std::chrono_literals;

// The user's private runtime folder, as the program gets it; one for the whole test program.
QString runtimeFolder() {
    static const QTemporaryDir folder;
    return folder.path();
}

QString uniqueKey() {
    return QStringLiteral("Tfmain-QX-77ZT-limits-") + QUuid::createUuid().toString(QUuid::Id128);
}

const QByteArray kRefusal = "too many\n";
const QByteArray kHold = "hold\n"; // taken over, as a command-line request is

// The first copy, with small limits and a stand-in for the command line's service that keeps
// every connection that says "hold".
struct Endpoint {
    SingleInstance first{uniqueKey(), runtimeFolder()};

    explicit Endpoint(const ConnectionLimits::Limits& limits) {
        first.connections().limits = limits;
        first.connections().refusal = kRefusal;
        first.takeConnection = [](QLocalSocket*, const QByteArray& received) {
            return received == kHold;
        };
    }
};

enum class Peer {
    Silent, // connects and sends nothing
    Holds,  // sends a request that is taken over and then waits for its answer
};

enum class Fate {
    Kept,    // still connected well after the silence limit, nothing received
    Dropped, // closed without a word
    Refused, // told "too many", then closed
};

struct LimitCase {
    const char* name;
    ConnectionLimits::Limits limits;
    std::vector<std::pair<Peer, Fate>> peers; // connected in this order
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

ConnectionLimits::Limits limits(std::chrono::milliseconds silence, int open, int refusing) {
    ConnectionLimits::Limits l;
    l.silence = silence;
    l.open = open;
    l.refusing = refusing;
    l.refusalLinger = 500ms;
    return l;
}

class Limit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limit, EachConnectionMeetsItsFate) {
    const LimitCase& c = GetParam();
    Endpoint endpoint(c.limits);
    ASSERT_EQ(endpoint.first.claim(), SingleInstance::Outcome::First);
    ASSERT_TRUE(endpoint.first.listening());

    struct Client {
        std::unique_ptr<QLocalSocket> socket = std::make_unique<QLocalSocket>();
        QByteArray received;
    };
    // All connected before the endpoint's event loop runs: it accepts them in this order.
    std::vector<Client> clients(c.peers.size());
    for (std::size_t i = 0; i < c.peers.size(); ++i) {
        Client& client = clients[i];
        QObject::connect(client.socket.get(), &QLocalSocket::readyRead,
                         [&client] { client.received += client.socket->readAll(); });
        client.socket->connectToServer(endpoint.first.serverPath());
        ASSERT_TRUE(client.socket->waitForConnected(3000)) << "peer " << i;
        if (c.peers[i].first == Peer::Holds) {
            client.socket->write(kHold);
            client.socket->flush();
        }
    }

    const auto closed = [](const Client& client) {
        return client.socket->state() == QLocalSocket::UnconnectedState;
    };
    for (std::size_t i = 0; i < c.peers.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "peer " << i);
        Client& client = clients[i];
        switch (c.peers[i].second) {
        case Fate::Kept:
            break;
        case Fate::Dropped:
            EXPECT_TRUE(QTest::qWaitFor([&] { return closed(client); }, 10000));
            EXPECT_EQ(client.received, QByteArray());
            break;
        case Fate::Refused:
            EXPECT_TRUE(QTest::qWaitFor([&] { return closed(client); }, 10000));
            EXPECT_EQ(client.received, kRefusal);
            break;
        }
    }
    // Those kept outlive the silence limit: what they sent counts.
    QTest::qWait(static_cast<int>(c.limits.silence.count()) * 2);
    for (std::size_t i = 0; i < c.peers.size(); ++i) {
        if (c.peers[i].second == Fate::Kept) {
            EXPECT_FALSE(closed(clients[i])) << "peer " << i;
            EXPECT_EQ(clients[i].received, QByteArray()) << "peer " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Connections, Limit,
    ::testing::Values(
        LimitCase{"SilentPeerIsDropped", limits(300ms, 4, 2), {{Peer::Silent, Fate::Dropped}}},
        LimitCase{"PeerThatSpeaksIsKept", limits(300ms, 4, 2), {{Peer::Holds, Fate::Kept}}},
        LimitCase{
            "OneTooManyIsToldSo",
            limits(1000ms, 2, 2),
            {{Peer::Holds, Fate::Kept}, {Peer::Holds, Fate::Kept}, {Peer::Holds, Fate::Refused}}},
        LimitCase{"TooManyBeingToldAreDroppedAtOnce",
                  limits(1000ms, 1, 1),
                  {{Peer::Holds, Fate::Kept},
                   {Peer::Silent, Fate::Refused},
                   {Peer::Silent, Fate::Dropped}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Only the open ones count: when one ends, another is taken.
TEST(ConnectionLimits, AClosedConnectionMakesRoom) {
    Endpoint endpoint(limits(5000ms, 1, 1));
    ASSERT_EQ(endpoint.first.claim(), SingleInstance::Outcome::First);
    auto held = std::make_unique<QLocalSocket>();
    held->connectToServer(endpoint.first.serverPath());
    ASSERT_TRUE(held->waitForConnected(3000));
    held->write(kHold);
    held->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return endpoint.first.connections().openCount() == 1; }));
    held.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return endpoint.first.connections().openCount() == 0; }));

    QSignalSpy raised(&endpoint.first, &SingleInstance::activationRequested);
    QLocalSocket show;
    show.connectToServer(endpoint.first.serverPath());
    ASSERT_TRUE(show.waitForConnected(3000));
    show.write("show\n");
    show.flush();
    EXPECT_TRUE(raised.wait(3000));
}

// The server closes itself when it cannot accept a connection, and removes its socket file; the
// first copy listens again once it can, and a later copy finds it there.
TEST(ConnectionLimits, TheEndpointListensAgainAfterItsServerClosed) {
    const QString key = uniqueKey();
    SingleInstance first(key, runtimeFolder());
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);
    const QByteArray path = QFile::encodeName(first.serverPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);

    // Leave this process one descriptor: the peer's socket takes it, and accepting fails.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(lowest) + 1;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const int peer = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = peer >= 0 && ::connect(peer, reinterpret_cast<const sockaddr*>(&address),
                                                  sizeof address) == 0;
    const bool serverClosed =
        connected && QTest::qWaitFor([&] { return !first.listening(); }, 5000);
    ::setrlimit(RLIMIT_NOFILE, &old);
    if (peer >= 0) {
        ::close(peer);
    }
    ASSERT_TRUE(connected);
    ASSERT_TRUE(serverClosed) << "the failed accept closes the server";

    EXPECT_TRUE(QTest::qWaitFor([&] { return first.listening(); }, 10000));
    EXPECT_TRUE(QFile::exists(QFile::decodeName(path)));
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    SingleInstance later(key, runtimeFolder());
    EXPECT_EQ(later.claim(), SingleInstance::Outcome::Delivered);
    EXPECT_TRUE(raised.wait(3000));
}

} // namespace
} // namespace qx
