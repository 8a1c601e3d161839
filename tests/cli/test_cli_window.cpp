// SPDX-License-Identifier: GPL-3.0-or-later
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
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <thread>

namespace qx::cli::test {
namespace {

// The window's dialogs, with something happening while the file dialog is up (its event loop
// runs meanwhile, as a real one's does).
struct WindowDialogs : qx::test::ScriptedDialogs {
    std::function<void()> whileOpen;
    QString openFileName(QWidget* parent, const QString& initialName,
                         const QString& filter) override {
        if (whileOpen) {
            whileOpen();
        }
        return ScriptedDialogs::openFileName(parent, initialName, filter);
    }
};

// A qx77zt hand-off running on a thread of its own.
struct PendingCommand {
    CapturedOutput output;
    std::atomic<int> status{-1};
    std::thread client;
    ~PendingCommand() {
        if (client.joinable()) {
            client.join();
        }
    }
};

// The window program as it runs: its window on the link, the virtual unit behind the link, and
// the service on a local socket of its own.
struct WindowProgram : ::testing::Test {
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};
    AnswerBox commandAnswers;
    WindowDialogs dialogs;
    Tfu tfu{link, dialogs};
    Tfmain w{link, tfu, dialogs};
    AnswerFanOut answers{tfu, commandAnswers};
    Receiver receiver{link, &answers};
    std::unique_ptr<Tthr> worker;
    WindowCliService service{[this] {
        WindowUnit u;
        u.connected = link.connected;
        u.unit = {link.bootMode ? "QX-77ZT (boot)" : "QX-77ZT", "QX7700000042", "1.2",
                  link.bootMode};
        u.state = link.connected ? "connected" : "unplugged";
        u.link = &link;
        u.answers = &commandAnswers;
        std::vector<WindowUnit> units{u};
        units.insert(units.end(), otherUnits.begin(), otherUnits.end());
        return units;
    }};
    // Further units of the window program, beside the one its window shows.
    std::vector<WindowUnit> otherUnits;
    QLocalServer server;
    QString endpoint = QStringLiteral("qx77zt-test-%1").arg(QCoreApplication::applicationPid());
    // The program's end of the latest connection.
    QPointer<QLocalSocket> lastPeer;
    // When set, the kernel's buffer for what the program sends (so that its own queue grows).
    int sendBuffer = 0;

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
                lastPeer = peer;
                if (sendBuffer > 0) {
                    ::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_SNDBUF,
                                 &sendBuffer, sizeof sendBuffer);
                }
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

    // Starts qx77zt's hand-off on a thread of its own; this one goes on running the window.
    std::unique_ptr<PendingCommand> startHandOff(const std::vector<std::string>& args) {
        auto command = std::make_unique<PendingCommand>();
        const ParsedArgs parsed = parseArgs(args);
        EXPECT_TRUE(parsed.request) << parsed.error;
        command->client = std::thread([this, c = command.get(), r = *parsed.request] {
            c->status = handToWindow(endpoint, r, c->output, {}).value_or(-2);
        });
        return command;
    }
    // Runs the window until the command has ended.
    static CliRun finish(PendingCommand& command) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return command.status != -1; }, 20000));
        command.client.join();
        return {command.status, command.output.out(), command.output.err()};
    }
    CliRun handOff(const std::vector<std::string>& args) { return finish(*startHandOff(args)); }

    // The unit restarted in its boot loader, as the window's scan then shows it.
    void bootLoader() {
        unit.restart(true);
        link.bootMode = true;
        tfu.setDeviceFields(QStringLiteral("QX-77ZT (boot)"), QStringLiteral("QX7700000042"),
                            QStringLiteral("1.2"));
        tfu.setUpdateButtonsEnabled(true);
    }
    unsigned sent(uint8_t command) const {
        const auto counts = unit.counters().byCommand;
        const auto it = counts.find(command);
        return it == counts.end() ? 0 : it->second;
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

TEST_F(WindowProgram, RequestsGoToTheUnitTheyNameAmongSeveral) {
    // A second unit on a link of its own, labelled.
    LinkState secondLink;
    unit::Identity id;
    id.serial = "QX7700000043";
    unit::VirtualUnit second(id);
    unit::UnitPort secondPort{second};
    AnswerBox secondAnswers;
    Receiver secondReceiver{secondLink, &secondAnswers};
    secondPort.setInputHandler(
        [&](const THIDreport& r, uint8_t n) { secondReceiver.onInputReport(r, n); });
    ASSERT_EQ(secondPort.scanForDevices(), 1);
    ASSERT_TRUE(secondPort.openDevice(0));
    secondLink.connected = true;
    Tthr secondWorker(secondLink, secondPort, [] {});
    WindowUnit u;
    u.connected = true;
    u.unit = {"QX-77ZT", "QX7700000043", "1.2", false};
    u.label = "Rack 2";
    u.state = "connected";
    u.link = &secondLink;
    u.answers = &secondAnswers;
    otherUnits.push_back(u);

    const DeviceSettings firstBefore = unit.settings();
    const CliRun byLabel = handOff({"set", "--serial", "rack 2", "mute=on"});
    EXPECT_EQ(byLabel.status, kExitDone) << byLabel.err;
    EXPECT_EQ(second.settings().muteOn, 1);
    EXPECT_EQ(unit.settings(), firstBefore) << "the other unit is left alone";

    const CliRun unnamed = handOff({"set", "sum=on"});
    EXPECT_EQ(unnamed.status, kExitUsage);
    EXPECT_NE(unnamed.err.find("several units are connected"), std::string::npos) << unnamed.err;
    EXPECT_NE(unnamed.err.find("QX7700000043 \"Rack 2\"  connected"), std::string::npos)
        << unnamed.err;

    const CliRun all = handOff({"status", "--json"});
    EXPECT_EQ(all.status, kExitDone) << all.err;
    ASSERT_EQ(all.out.front(), '[') << all.out;
    EXPECT_NE(all.out.find("\"serial\":\"QX7700000042\""), std::string::npos) << all.out;
    EXPECT_NE(all.out.find("\"serial\":\"QX7700000043\",\"label\":\"Rack 2\""), std::string::npos)
        << all.out;
    const CliRun text = handOff({"status"});
    EXPECT_NE(text.out.find("unit QX7700000043 \"Rack 2\"\n"), std::string::npos) << text.out;

    secondWorker.requestStop();
    secondLink.wakeWorker();
    secondWorker.join();
    secondLink.shutdown();
    otherUnits.clear();
}

TEST_F(WindowProgram, TheWindowsUnitAndItsUpdateAreRespected) {
    const CliRun other = handOff({"get", "--serial", "SOMEONE-ELSE"});
    EXPECT_EQ(other.status, kExitNoUnit);
    EXPECT_EQ(other.err, "qx77zt: the window program has no unit \"SOMEONE-ELSE\"; it has:\n"
                         "  QX7700000042  connected\n");

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

// The update window looks for another transfer before its file dialog; while the dialog is up
// a handed-over update starts. After the dialog the window must not start a transfer of its
// own beside it: the unit would take the blocks of two packages.
TEST_F(WindowProgram, AnUpdateStartedWhileTheWindowsFileDialogIsUpRunsAlone) {
    bootLoader();
    std::unique_ptr<PendingCommand> command;
    dialogs.nextOpenName = QStringLiteral(QX_DEMO_PACKAGE);
    dialogs.whileOpen = [&] {
        command = startHandOff({"update", QX_DEMO_PACKAGE});
        EXPECT_TRUE(QTest::qWaitFor([&] { return sent(cmd::kErase) > 0; }, 10000));
    };
    tfu.select->click();
    ASSERT_TRUE(command);
    const CliRun r = finish(*command);
    EXPECT_EQ(r.status, kExitDone) << r.err;
    EXPECT_NE(r.out.find("Update completed successfully."), std::string::npos) << r.out;
    // The window also shows the unit's verdict on the command's update, as it shows every one.
    const QString refusal = QStringLiteral(
        "A firmware update is already running. The package was not sent to the unit.");
    EXPECT_TRUE(std::any_of(dialogs.shown.begin(), dialogs.shown.end(),
                            [&](const auto& m) { return m.text == refusal; }));
    EXPECT_FALSE(tfu.busy());
    EXPECT_TRUE(tfu.select->isEnabled());
    EXPECT_EQ(sent(cmd::kFinish), 1u) << "one package, sent once";
    EXPECT_FALSE(link.transferRunning);
}

// And the other way round: a window's transfer, waiting for the unit's word, refuses a command.
TEST_F(WindowProgram, AnUpdateArrivingDuringTheWindowsTransferIsRefused) {
    bootLoader();
    unit::Faults silent;
    silent.silent = true;
    unit.setFaults(silent); // the window waits for a verdict that does not come
    tfu.setVerdictWait(std::chrono::milliseconds(3000));
    dialogs.nextOpenName = QStringLiteral(QX_DEMO_PACKAGE);
    tfu.select->click();
    ASSERT_TRUE(tfu.transferring());
    const CliRun refused = handOff({"update", QX_DEMO_PACKAGE});
    EXPECT_EQ(refused.status, kExitUnitFailed);
    EXPECT_EQ(refused.err, "qx77zt: a firmware update is already running\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tfu.busy(); }, 20000));
    EXPECT_EQ(sent(cmd::kFinish), 1u);
    EXPECT_FALSE(link.transferRunning);
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

// A --watch whose peer stops reading (a pager, a suspended job): the program keeps at most its
// limit of unsent bytes for it, then ends the watch, and the peer reads why once it reads again.
TEST_F(WindowProgram, AWatchNobodyReadsIsEndedAtTheLimit) {
    service.unsentLimit = 8 * 1024;
    service.watchInterval = std::chrono::milliseconds(5);
    sendBuffer = 4096;
    std::atomic<bool> readAgain{false};
    std::atomic<bool> done{false};
    std::string received;
    std::thread peer([&] {
        QLocalSocket s;
        s.connectToServer(endpoint);
        if (s.waitForConnected(3000)) {
            s.write(bytesOf(encodeRequest({"status", "--watch"})));
            s.waitForBytesWritten(3000);
            while (!readAgain) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            // Bounded: a watch that is never ended fails the test rather than hanging it.
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while ((s.state() == QLocalSocket::ConnectedState || s.bytesAvailable() > 0) &&
                   std::chrono::steady_clock::now() < giveUp) {
                s.waitForReadyRead(100);
                received += s.readAll().toStdString();
            }
        }
        done = true;
    });
    qint64 mostUnsent = 0;
    bool connected = false;
    const bool ended = QTest::qWaitFor(
        [&] {
            if (!lastPeer) {
                return connected; // closed and gone
            }
            connected = true;
            mostUnsent = std::max(mostUnsent, lastPeer->bytesToWrite());
            return lastPeer->state() != QLocalSocket::ConnectedState;
        },
        20000);
    readAgain = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 30000));
    peer.join();
    ASSERT_TRUE(ended) << "the watch went on; unsent: " << mostUnsent;
    EXPECT_LE(mostUnsent, 8 * 1024 + 256);

    // Whole lines up to the end, then the reason and a failure.
    std::vector<DecodedAnswer> frames;
    std::span<const uint8_t> rest(reinterpret_cast<const uint8_t*>(received.data()),
                                  received.size());
    for (;;) {
        const DecodedAnswer frame = decodeAnswer(rest);
        if (frame.status != DecodedAnswer::Complete) {
            break;
        }
        frames.push_back(frame);
        rest = rest.subspan(frame.consumed);
    }
    EXPECT_TRUE(rest.empty());
    ASSERT_GE(frames.size(), 3u);
    for (std::size_t i = 0; i + 2 < frames.size(); ++i) {
        EXPECT_EQ(frames[i].kind, AnswerKind::Out);
        EXPECT_EQ(frames[i].payload.rfind("level.left=", 0), 0u) << frames[i].payload;
    }
    EXPECT_EQ(frames[frames.size() - 2].kind, AnswerKind::Err);
    EXPECT_EQ(frames[frames.size() - 2].payload,
              "qx77zt: the window program ended the command: its output was not being read (8 "
              "KiB waiting)\n");
    EXPECT_EQ(frames.back().kind, AnswerKind::Exit);
    EXPECT_EQ(frames.back().payload, std::string(1, char(kExitUnitFailed)));
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
