// qx77zt handing its requests to a running window program: a change made through the socket
// shows on the window, and whatever else arrives on the socket is refused cleanly.
#include "../panel/ScriptedDialogs.h"
#include "CliFixture.h"
#include "cli/HandOffProtocol.h"
#include "cli/WindowCliService.h"
#include "cli/WindowHandOff.h"
#include "link/LinkWorker.h"
#include "panel/umain.h"
#include "unit/UnitPort.h"
#include "update/uu.h"

#include <QComboBox>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <thread>

namespace qx::cli::test {
namespace {

// The window program as it runs: its window on the link, the virtual unit behind the link, and
// the service on a local socket of its own.
struct WindowProgram : ::testing::Test {
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};
    AnswerBox commandAnswers;
    qx::test::ScriptedDialogs dialogs;
    Tfu tfu{link, dialogs};
    Tfmain w{link, tfu, dialogs};
    AnswerFanOut answers{tfu, commandAnswers};
    Receiver receiver{link, &answers};
    std::unique_ptr<Tthr> worker;
    WindowCliService service{link, commandAnswers, [this] {
                                 WindowUnit u;
                                 u.connected = link.connected;
                                 u.unit = {"QX-77ZT", "QX7700000042", "1.2", link.bootMode};
                                 return u;
                             }};
    QLocalServer server;
    QString endpoint = QStringLiteral("qx77zt-test-%1").arg(QCoreApplication::applicationPid());

    void SetUp() override {
        port.setInputHandler(
            [this](const THIDreport& r, uint8_t n) { receiver.onInputReport(r, n); });
        ASSERT_EQ(port.scanForDevices(), 1);
        ASSERT_TRUE(port.openDevice(0));
        link.connected = true;
        worker = std::make_unique<Tthr>(link, port, [this] { w.requestRefresh(); });
        w.Cont(true);
        service.requestPatience = std::chrono::milliseconds(300);
        // What the program's single-instance endpoint does with a connection.
        QLocalServer::removeServer(endpoint);
        server.setSocketOptions(QLocalServer::UserAccessOption);
        QObject::connect(&server, &QLocalServer::newConnection, [this] {
            while (QLocalSocket* peer = server.nextPendingConnection()) {
                QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                QObject::connect(peer, &QLocalSocket::readyRead, &server, [this, peer] {
                    QObject::disconnect(peer, &QLocalSocket::readyRead, &server, nullptr);
                    if (!service.take(peer, peer->readAll())) {
                        peer->disconnectFromServer();
                    }
                });
            }
        });
        ASSERT_TRUE(server.listen(endpoint));
    }
    void TearDown() override {
        worker.reset();
        port.setInputHandler({});
    }

    // Runs qx77zt's hand-off on a thread of its own while this one runs the window.
    CliRun handOff(const std::vector<std::string>& args) {
        const ParsedArgs parsed = parseArgs(args);
        EXPECT_TRUE(parsed.request) << parsed.error;
        CapturedOutput output;
        std::atomic<int> status{-1};
        std::thread client(
            [&] { status = handToWindow(endpoint, *parsed.request, output, {}).value_or(-2); });
        const bool ended = QTest::qWaitFor([&] { return status != -1; }, 10000);
        client.join();
        EXPECT_TRUE(ended);
        return {status, output.out(), output.err()};
    }

    // Sends raw bytes as a peer would and returns everything the program answered until it
    // closed the connection.
    std::string rawExchange(const QByteArray& bytes) {
        std::string answer;
        std::atomic<bool> done{false};
        std::thread peer([&] {
            QLocalSocket s;
            s.connectToServer(endpoint);
            if (s.waitForConnected(3000)) {
                s.write(bytes);
                s.waitForBytesWritten(3000);
                while (s.state() == QLocalSocket::ConnectedState || s.bytesAvailable() > 0) {
                    s.waitForReadyRead(100);
                    answer += s.readAll().toStdString();
                }
            }
            done = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 10000));
        peer.join();
        return answer;
    }
};

TEST_F(WindowProgram, SetThroughTheSocketChangesTheWindow) {
    ASSERT_EQ(w.mute->colorStyle(), lcsChrome);
    const CliRun r = handOff({"set", "mute=on", "preset=3", "source.right=ANALOG R"});
    EXPECT_EQ(r.status, kExitDone) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(unit.settings().muteOn, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return w.mute->colorStyle() == lcsRed && w.but2->colorStyle() == lcsGreen &&
               w.srcR->currentText() == QStringLiteral("ANALOG R");
    }));

    const CliRun get = handOff({"get", "--json"});
    EXPECT_EQ(get.status, kExitDone);
    EXPECT_NE(get.out.find("\"mute\":true"), std::string::npos) << get.out;
    EXPECT_NE(get.out.find("\"source.right\":\"ANALOG R\""), std::string::npos) << get.out;
}

TEST_F(WindowProgram, TheWindowsUnitAndItsUpdateAreRespected) {
    const CliRun other = handOff({"get", "--serial", "SOMEONE-ELSE"});
    EXPECT_EQ(other.status, kExitNoUnit);
    EXPECT_EQ(other.err,
              "qx77zt: the window program drives unit \"QX7700000042\", not \"SOMEONE-ELSE\"\n");

    // An update under way in the window refuses a second one from the command line.
    unit.restart(true);
    link.bootMode = true;
    link.transferRunning = true;
    const CliRun update = handOff({"update", QX_DEMO_PACKAGE});
    link.transferRunning = false;
    EXPECT_EQ(update.status, kExitUnitFailed);
    EXPECT_EQ(update.err, "qx77zt: a firmware update is already running\n");
    EXPECT_EQ(unit.counters().byCommand.count(cmd::kErase), 0u);

    // And the other way round: while a command's transfer runs, the update window starts none.
    tfu.setUpdateButtonsEnabled(true);
    link.transferRunning = true;
    for (QPushButton* button : {tfu.select, tfu.def}) {
        button->click();
    }
    link.transferRunning = false;
    EXPECT_TRUE(dialogs.openAsked.empty());
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].text, QStringLiteral("A firmware update is already running."));
    EXPECT_EQ(unit.counters().byCommand.count(cmd::kResetDefaults), 0u);
}

std::string frame(AnswerKind kind, std::string_view payload) {
    const std::vector<uint8_t> bytes = encodeAnswer(kind, payload);
    return {bytes.begin(), bytes.end()};
}

QByteArray bytesOf(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

TEST_F(WindowProgram, GarbageAndOversizeRequestsAreRefusedCleanly) {
    const QByteArray magic = QByteArray::fromStdString(std::string(kRequestMagic));
    const std::string usage = frame(AnswerKind::Exit, std::string(1, char(kExitUsage)));
    struct Case {
        const char* name;
        QByteArray bytes;
        std::string answer; // everything the program sends back before closing
    };
    const std::vector<Case> cases = {
        {"garbage", QByteArray("GET / HTTP/1.0\r\n\r\n"), ""},
        {"oversize", magic + QByteArray("\x7f\xff\xff\xff", 4) + QByteArray(64 * 1024, 'a'),
         frame(AnswerKind::Err, "qx77zt: the window program refused the request: request too "
                                "large\n") +
             usage},
        {"unterminated", magic + QByteArray("\0\0\0\3get", 7),
         frame(AnswerKind::Err, "qx77zt: the window program refused the request: request not "
                                "terminated\n") +
             usage},
        {"cut short", magic + QByteArray("\0\0\0\x10get", 7),
         frame(AnswerKind::Err, "qx77zt: the window program refused the request: the request "
                                "did not arrive in time\n") +
             usage},
        {"bad setting", bytesOf(encodeRequest({"set", "mute=loud"})),
         frame(AnswerKind::Err, "qx77zt: mute takes one of \"off\", \"on\", not \"loud\"\n") +
             usage},
        {"not for the window", bytesOf(encodeRequest({"list"})),
         frame(AnswerKind::Err, "qx77zt: the window program runs only commands for its unit\n") +
             usage},
        {"too many arguments", bytesOf(encodeRequest(std::vector<std::string>(200, "get"))),
         frame(AnswerKind::Err, "qx77zt: the window program refused the request: too many "
                                "arguments\n") +
             usage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(rawExchange(c.bytes), c.answer);
    }
    // The program still answers properly afterwards.
    EXPECT_EQ(handOff({"get"}).status, kExitDone);
}

TEST_F(WindowProgram, NobodyListeningLeavesTheCommandToDriveTheUnitItself) {
    CapturedOutput output;
    EXPECT_EQ(
        handToWindow(QStringLiteral("qx77zt-test-nobody"), *parseArgs({"get"}).request, output, {}),
        std::nullopt);
    EXPECT_EQ(output.err(), "");
}

} // namespace
} // namespace qx::cli::test
