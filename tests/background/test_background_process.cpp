// SPDX-License-Identifier: GPL-3.0-or-later
// The demo program on real display servers: an X server (Xvfb) and a Wayland compositor
// (weston's headless back end), each with a private D-Bus session bus on which the test plays
// the desktop's tray host (a status-notifier watcher). Every server is started here, in a
// private folder, and ended at the end of its test; a test whose server is not installed is
// skipped and says which.

#include "tests/background/FakeWatcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#ifdef QX_HAVE_XCB
#include <xcb/xcb.h>
#endif

#include <signal.h>

namespace qx {
namespace {

// Generous: the machine may be a shared one running sanitizer builds.
constexpr int kPatienceMs = 30000;

QString tool(const char* name) {
    return QStandardPaths::findExecutable(QLatin1String(name));
}

// A server process of the test: ended (politely, then not) when the test ends.
class Server {
public:
    ~Server() { stop(); }
    QProcess process;
    void stop() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }
};

class BackgroundProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session_.isValid());
        ASSERT_TRUE(QDir().mkpath(configHome()));
    }
    void TearDown() override {
        for (const auto& copy : copies_) {
            if (copy->state() != QProcess::NotRunning) {
                copy->kill();
                copy->waitForFinished(kPatienceMs);
            }
        }
        // No copy left a report of the sanitizers (the programs are built with them under
        // their presets) or of a thread cut off.
        for (std::size_t i = 0; i < copies_.size(); ++i) {
            const QString errors = errorsOf(i);
            for (const char* fault :
                 {"Sanitizer", "runtime error", "QThread: Destroyed", "terminate called"}) {
                EXPECT_FALSE(errors.contains(QLatin1String(fault)))
                    << "copy " << i << " reported \"" << fault << "\":\n"
                    << errors.toStdString();
            }
        }
        if (bus_) {
            QDBusConnection::disconnectFromBus(busName());
        }
    }

    QString configHome() const { return session_.filePath(QStringLiteral("config")); }
    QString busName() const { return QStringLiteral("qx-test-bus"); }

    // A private session bus; false (with a reason) where dbus-daemon is missing.
    bool startBus(QString& why) {
        const QString daemon = tool("dbus-daemon");
        if (daemon.isEmpty()) {
            why = QStringLiteral("dbus-daemon is not installed (package dbus-daemon)");
            return false;
        }
        bus_ = std::make_unique<Server>();
        bus_->process.setProgram(daemon);
        bus_->process.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                                    QStringLiteral("--print-address=1")});
        bus_->process.start();
        if (!bus_->process.waitForStarted(kPatienceMs) ||
            !QTest::qWaitFor([&] { return bus_->process.canReadLine(); }, kPatienceMs)) {
            why = QStringLiteral("dbus-daemon did not start");
            return false;
        }
        busAddress_ = QString::fromUtf8(bus_->process.readLine()).trimmed();
        return true;
    }

    // The tray host on the private bus.
    void startWatcher() {
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress_, busName());
        ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
        ASSERT_TRUE(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher_,
                                       QDBusConnection::ExportAllSlots |
                                           QDBusConnection::ExportAllSignals |
                                           QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    }

    // An X server of its own, on a display it picks itself (and tells on its standard output),
    // so that tests run side by side never take the same one.
    bool startXvfb(QString& why) {
        const QString xvfb = tool("Xvfb");
        if (xvfb.isEmpty()) {
            why = QStringLiteral("Xvfb is not installed (package xvfb)");
            return false;
        }
        x_ = std::make_unique<Server>();
        x_->process.setProgram(xvfb);
        x_->process.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                                  QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                  QStringLiteral("-screen"), QStringLiteral("0"),
                                  QStringLiteral("1024x768x24")});
        x_->process.setStandardErrorFile(QProcess::nullDevice());
        x_->process.start();
        if (!x_->process.waitForStarted(kPatienceMs) ||
            !QTest::qWaitFor(
                [&] {
                    return x_->process.state() == QProcess::NotRunning || x_->process.canReadLine();
                },
                kPatienceMs) ||
            !x_->process.canReadLine()) {
            why = QStringLiteral("Xvfb did not start");
            return false;
        }
        display_ = QLatin1Char(':') + QString::fromLatin1(x_->process.readLine()).trimmed();
        return true;
    }

    // weston with its headless back end, its socket in the session's private runtime folder.
    bool startWeston(QString& why) {
#if defined(__SANITIZE_THREAD__)
        // Its locks are half seen by the sanitizer (taken inside libraries it does not watch,
        // released through ones it does), which it reports as misuse on every window.
        why = QStringLiteral("Qt's Wayland client is not built for ThreadSanitizer; the Wayland "
                             "runs are made by the other presets");
        return false;
#endif
        const QString weston = tool("weston");
        if (weston.isEmpty()) {
            why = QStringLiteral("weston is not installed (package weston)");
            return false;
        }
        if (!QFile::exists(QStringLiteral(QX_QT_PLUGINS "/platforms/libqwayland-generic.so"))) {
            why = QStringLiteral("Qt's Wayland plugin is not installed (package qt6-wayland)");
            return false;
        }
        wayland_ = std::make_unique<Server>();
        wayland_->process.setProgram(weston);
        wayland_->process.setArguments({QStringLiteral("--backend=headless-backend.so"),
                                        QStringLiteral("--socket=qx-wayland"),
                                        QStringLiteral("--idle-time=0")});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), session_.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DISPLAY"));
        wayland_->process.setProcessEnvironment(env);
        wayland_->process.setStandardOutputFile(session_.filePath(QStringLiteral("weston.log")));
        wayland_->process.setStandardErrorFile(session_.filePath(QStringLiteral("weston.err")));
        wayland_->process.start();
        const QString socket = session_.filePath(QStringLiteral("qx-wayland"));
        if (!QTest::qWaitFor(
                [&] {
                    return wayland_->process.state() == QProcess::NotRunning ||
                           QFile::exists(socket);
                },
                kPatienceMs) ||
            wayland_->process.state() != QProcess::Running) {
            why = QStringLiteral("weston did not start");
            return false;
        }
        return true;
    }

    // What the programs run with: the session's private folders, the display server and bus of
    // the test, debug lines of the background.
    QProcessEnvironment environment(const QString& platform) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QX77ZT_RUNTIME_DIR", "XDG_RUNTIME_DIR", "TMPDIR", "HOME"}) {
            env.insert(QLatin1String(name), session_.path());
        }
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
        for (const char* name : {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "DISPLAY",
                                 "WAYLAND_DISPLAY", "XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID",
                                 "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE"}) {
            env.remove(QLatin1String(name));
        }
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        if (platform == QLatin1String("xcb")) {
            env.insert(QStringLiteral("DISPLAY"), display_);
        } else if (platform == QLatin1String("wayland")) {
            env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("qx-wayland"));
        }
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   busAddress_.isEmpty() ? QStringLiteral("unix:path=/nonexistent") : busAddress_);
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qx.background.debug=true"));
        env.insert(QStringLiteral("TSAN_OPTIONS"), env.value(QStringLiteral("TSAN_OPTIONS")) +
                                                       QStringLiteral(" suppressions=") +
                                                       threadSanitizerSuppressions());
        env.insert(QStringLiteral("LSAN_OPTIONS"), env.value(QStringLiteral("LSAN_OPTIONS")) +
                                                       QStringLiteral(" suppressions=") +
                                                       leakSanitizerSuppressions());
        return env;
    }

    // Qt is not built for ThreadSanitizer: heap calls made by Qt's own code are left out, and so
    // are the D-Bus library the tray icon speaks through (from Qt's D-Bus thread) and GLib's
    // event loop, which Qt's X11 and Wayland plugins run on (its wake-up descriptor is made on
    // one thread and written on another), and Qt's X11 plugin, whose event reader thread hands
    // events over under Qt's own locks.
    QString threadSanitizerSuppressions() const {
        const QString path = session_.filePath(QStringLiteral("tsan.supp"));
        QFile file(path);
        if (!file.exists() && file.open(QIODevice::WriteOnly)) {
            file.write("called_from_lib:libQt6Core.so.6\n"
                       "called_from_lib:libQt6Gui.so.6\n"
                       "called_from_lib:libQt6DBus.so.6\n"
                       "called_from_lib:libdbus-1.so.3\n"
                       "race:libdbus-1.so.3\n"
                       "called_from_lib:libglib-2.0.so.0\n"
                       "race:libQt6XcbQpa.so.6\n");
        }
        return path;
    }

    // The Wayland client library keeps a few blocks Qt's Wayland plugin never hands back at exit
    // (in every Qt program, this one's code is not on their way).
    QString leakSanitizerSuppressions() const {
        const QString path = session_.filePath(QStringLiteral("lsan.supp"));
        QFile file(path);
        if (!file.exists() && file.open(QIODevice::WriteOnly)) {
            file.write("leak:libwayland-client.so\n");
        }
        return path;
    }

    QProcess& start(const QString& platform, const QStringList& args = {},
                    const QHash<QString, QString>& extra = {}) {
        auto copy = std::make_unique<QProcess>();
        copy->setProgram(QStringLiteral(QX_DEMO_PROGRAM));
        copy->setArguments(args);
        QProcessEnvironment env = environment(platform);
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            env.insert(it.key(), it.value());
        }
        copy->setProcessEnvironment(env);
        copy->setWorkingDirectory(session_.path());
        copy->setStandardOutputFile(QProcess::nullDevice());
        copy->setStandardErrorFile(stderrPath(copies_.size()));
        copy->start();
        copies_.push_back(std::move(copy));
        return *copies_.back();
    }

    QString stderrPath(std::size_t index) const {
        return session_.filePath(QStringLiteral("stderr-%1.txt").arg(index));
    }
    QString errorsOf(std::size_t index) const {
        QFile file(stderrPath(index));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }
    bool waitForError(std::size_t index, const QString& text) const {
        return QTest::qWaitFor(
                   [&] {
                       return copies_.at(index)->state() == QProcess::NotRunning ||
                              errorsOf(index).contains(text);
                   },
                   kPatienceMs) &&
               errorsOf(index).contains(text);
    }
    // Waits for the copy's link: the library's reader thread runs.
    static bool waitUntilConnected(QProcess& copy) {
        const auto connected = [&copy] {
            const QDir tasks(QStringLiteral("/proc/%1/task").arg(copy.processId()));
            for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
                if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "hid-reader") {
                    return true;
                }
            }
            return false;
        };
        return copy.waitForStarted(kPatienceMs) &&
               QTest::qWaitFor([&] { return copy.state() != QProcess::Running || connected(); },
                               kPatienceMs) &&
               copy.state() == QProcess::Running;
    }
    // The end of the desktop session, for a copy still running (never a signal to pid 0, which
    // would reach the test itself).
    static void endSession(QProcess& copy) {
        if (copy.state() == QProcess::Running && copy.processId() > 0) {
            ::kill(static_cast<pid_t>(copy.processId()), SIGTERM);
        }
    }
    // Waits for the copy to end on its own with status 0.
    static bool endsCleanly(QProcess& copy) {
        return QTest::qWaitFor([&] { return copy.state() == QProcess::NotRunning; }, kPatienceMs) &&
               copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0;
    }

    // The tray item's tooltip text, read from it over the bus as a tray host reads it.
    QString trayToolTip(const QString& service) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            service, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
        const QDBusMessage reply = QDBusConnection(busName()).call(get, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return {};
        }
        // (icon name, [(width, height, pixels)], title, text)
        const QDBusArgument arg =
            reply.arguments().at(0).value<QDBusVariant>().variant().value<QDBusArgument>();
        QString icon;
        QString title;
        QString text;
        arg.beginStructure();
        arg >> icon;
        arg.beginArray();
        while (!arg.atEnd()) {
            int w = 0;
            int h = 0;
            QByteArray pixels;
            arg.beginStructure();
            arg >> w >> h >> pixels;
            arg.endStructure();
        }
        arg.endArray();
        arg >> title >> text;
        arg.endStructure();
        return title + QLatin1Char('\n') + text;
    }

    // Checks the tray item of a copy registers with the host and shows the unit's state.
    void expectTrayRegisters(const QString& platform, const QStringList& args = {}) {
        startWatcher();
        QProcess& copy = start(platform, args);
        ASSERT_TRUE(waitUntilConnected(copy)) << errorsOf(0).toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher_.services.isEmpty(); }, kPatienceMs))
            << "no tray item registered:\n"
            << errorsOf(0).toStdString();
        const QString service = watcher_.services.first();
        EXPECT_TRUE(service.startsWith(QStringLiteral("org.kde.StatusNotifierItem-")) ||
                    service.startsWith(QLatin1Char(':')))
            << service.toStdString();
        // The demo's unit and its state, once its link is up.
        QString tip;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                tip = trayToolTip(service);
                return tip.contains(QStringLiteral(": connected"));
            },
            kPatienceMs))
            << tip.toStdString();
        endSession(copy);
        EXPECT_TRUE(endsCleanly(copy)) << errorsOf(0).toStdString();
    }

    QTemporaryDir session_;
    std::unique_ptr<Server> bus_;
    std::unique_ptr<Server> x_;
    std::unique_ptr<Server> wayland_;
    QString busAddress_;
    QString display_;
    FakeWatcher watcher_;
    std::vector<std::unique_ptr<QProcess>> copies_;
};

#define QX_NEED(start)                                                                             \
    do {                                                                                           \
        QString why;                                                                               \
        if (!(start)) {                                                                            \
            GTEST_SKIP() << why.toStdString();                                                     \
        }                                                                                          \
    } while (false)

TEST_F(BackgroundProcess, TrayItemRegistersWithTheTrayHostUnderX11) {
    QX_NEED(startBus(why));
    QX_NEED(startXvfb(why));
    expectTrayRegisters(QStringLiteral("xcb"));
}

TEST_F(BackgroundProcess, TrayItemRegistersWithTheTrayHostUnderWayland) {
    QX_NEED(startBus(why));
    QX_NEED(startWeston(why));
    // Hidden: a headless compositor has no seat to activate a window, whose first activation
    // would bring the link up.
    expectTrayRegisters(QStringLiteral("wayland"), {QStringLiteral("--hidden")});
}

TEST_F(BackgroundProcess, WithoutATrayHiddenStartShowsTheWindowAndSaysWhy) {
    QX_NEED(startBus(why));
    QX_NEED(startXvfb(why));
    // No tray host on the bus.
    QProcess& copy = start(QStringLiteral("xcb"), {QStringLiteral("--hidden")});
    EXPECT_TRUE(waitForError(0, QStringLiteral("no system tray here")))
        << errorsOf(0).toStdString();
    // Shown: the link comes up at the window's first activation.
    ASSERT_TRUE(waitUntilConnected(copy)) << errorsOf(0).toStdString();
    endSession(copy);
    EXPECT_TRUE(endsCleanly(copy)) << errorsOf(0).toStdString();
}

TEST_F(BackgroundProcess, HiddenStartWithATrayBringsTheLinkUpAndALaterCopyShowsTheWindow) {
    QX_NEED(startBus(why));
    QX_NEED(startWeston(why));
    startWatcher();
    QProcess& first = start(QStringLiteral("wayland"), {QStringLiteral("--hidden")});
    // The link is up with no window shown.
    ASSERT_TRUE(waitUntilConnected(first)) << errorsOf(0).toStdString();
    EXPECT_FALSE(errorsOf(0).contains(QStringLiteral("no system tray")));

    QProcess& later = start(
        QStringLiteral("wayland"), {},
        {{QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("token-of-the-later-start")}});
    EXPECT_TRUE(endsCleanly(later)) << errorsOf(1).toStdString();
    EXPECT_TRUE(waitForError(0, QStringLiteral("activation token \"token-of-the-later-start\"")))
        << errorsOf(0).toStdString();
    endSession(first);
    EXPECT_TRUE(endsCleanly(first)) << errorsOf(0).toStdString();
}

TEST_F(BackgroundProcess, UnderWaylandTheWindowShowsAndALaterCopyRaisesItWithItsToken) {
    QX_NEED(startBus(why));
    QX_NEED(startWeston(why));
    QProcess& first = start(QStringLiteral("wayland"));
    // Shown: painted once the compositor has configured it (a headless compositor has no seat
    // to activate it with).
    ASSERT_TRUE(waitForError(0, QStringLiteral("main window shown (wayland)")))
        << errorsOf(0).toStdString();

    QProcess& later = start(QStringLiteral("wayland"), {},
                            {{QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("wl-tok-1")},
                             {QStringLiteral("DESKTOP_STARTUP_ID"), QStringLiteral("id_TIME5")}});
    EXPECT_TRUE(endsCleanly(later)) << errorsOf(1).toStdString();
    EXPECT_TRUE(
        waitForError(0, QStringLiteral("activation token \"wl-tok-1\", startup id \"id_TIME5\"")))
        << errorsOf(0).toStdString();
    endSession(first);
    EXPECT_TRUE(endsCleanly(first)) << errorsOf(0).toStdString();
}

#ifdef QX_HAVE_XCB
// The X11 side of the desktop: the program's mapped top-level window named `title`, and the
// close its close box sends.
class XWindows {
public:
    explicit XWindows(const QString& display)
        : c_(xcb_connect(display.toLocal8Bit().constData(), nullptr)) {}
    ~XWindows() { xcb_disconnect(c_); }
    bool ok() const { return xcb_connection_has_error(c_) == 0; }

    // 0 when none is mapped.
    xcb_window_t viewable(const QString& titleStart) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        xcb_window_t found = 0;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(c_, xcb_query_tree(c_, screen->root), nullptr);
        if (tree == nullptr) {
            return 0;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && found == 0; ++i) {
            xcb_get_window_attributes_reply_t* attrs = xcb_get_window_attributes_reply(
                c_, xcb_get_window_attributes(c_, children[i]), nullptr);
            const bool mapped = attrs != nullptr && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
            free(attrs);
            if (mapped && name(children[i]).startsWith(titleStart)) {
                found = children[i];
            }
        }
        free(tree);
        return found;
    }

    void requestClose(xcb_window_t window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(c_);
    }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
        const xcb_atom_t a = r != nullptr ? r->atom : 0;
        free(r);
        return a;
    }
    QString name(xcb_window_t window) {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 256),
            nullptr);
        QString text;
        if (r != nullptr) {
            text = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(r)),
                                     xcb_get_property_value_length(r));
        }
        free(r);
        return text;
    }

    xcb_connection_t* c_;
};

const QString kMainTitle = QStringLiteral("QX-77ZT");

TEST_F(BackgroundProcess, WithoutATrayClosingTheWindowEndsTheProgram) {
    QX_NEED(startBus(why));
    QX_NEED(startXvfb(why));
    // Kept on from a desktop that had a tray: here it cannot be honoured.
    QFile conf(configHome() + QStringLiteral("/qx77zt-demo/desktop.conf"));
    ASSERT_TRUE(QDir().mkpath(configHome() + QStringLiteral("/qx77zt-demo")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[General]\nkeep-watching=true\n");
    conf.close();
    QProcess& copy = start(QStringLiteral("xcb"));
    ASSERT_TRUE(waitUntilConnected(copy)) << errorsOf(0).toStdString();
    XWindows x(display_);
    ASSERT_TRUE(x.ok());
    xcb_window_t main = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (main = x.viewable(kMainTitle)) != 0; }, kPatienceMs));
    x.requestClose(main);
    EXPECT_TRUE(endsCleanly(copy)) << errorsOf(0).toStdString();
}

TEST_F(BackgroundProcess, WithATrayClosingHidesTheWindowAndTheProgramWatchesOn) {
    QX_NEED(startBus(why));
    QX_NEED(startXvfb(why));
    startWatcher();
    ASSERT_TRUE(QDir().mkpath(configHome() + QStringLiteral("/qx77zt-demo")));
    QFile conf(configHome() + QStringLiteral("/qx77zt-demo/desktop.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[General]\nkeep-watching=true\n");
    conf.close();
    QProcess& copy = start(QStringLiteral("xcb"));
    ASSERT_TRUE(waitUntilConnected(copy)) << errorsOf(0).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher_.services.isEmpty(); }, kPatienceMs));
    XWindows x(display_);
    ASSERT_TRUE(x.ok());
    xcb_window_t main = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (main = x.viewable(kMainTitle)) != 0; }, kPatienceMs));
    x.requestClose(main);
    // Hidden, and the link still up (its reader thread ends with the link).
    ASSERT_TRUE(QTest::qWaitFor([&] { return x.viewable(kMainTitle) == 0; }, kPatienceMs));
    EXPECT_TRUE(waitUntilConnected(copy)) << errorsOf(0).toStdString();

    // A later copy brings it back.
    QProcess& later = start(QStringLiteral("xcb"));
    EXPECT_TRUE(endsCleanly(later)) << errorsOf(1).toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return x.viewable(kMainTitle) != 0; }, kPatienceMs));

    // The end of the session ends it as the window's quit does.
    endSession(copy);
    EXPECT_TRUE(endsCleanly(copy)) << errorsOf(0).toStdString();
}
#endif

} // namespace
} // namespace qx
