// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop notice on a private session bus: a bus daemon of the test's own, a small
// notification service in the test, and the notifier's call arriving there; and quiet, said
// once, where there is no service.
#include "watch/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qx::watch {

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notice {
        QString app, icon, summary, body;
        QVariantMap hints;
    };
    std::vector<Notice> notices;

public slots:
    uint Notify(const QString& app, uint /*replaces*/, const QString& icon, const QString& summary,
                const QString& body, const QStringList& /*actions*/, const QVariantMap& hints,
                int /*timeout*/) {
        notices.push_back({app, icon, summary, body, hints});
        return static_cast<uint>(notices.size());
    }
};

namespace {

using namespace std::chrono_literals;

// A session bus of the test's own, on a socket in the temporary folder, ended with the test.
struct PrivateBus {
    QProcess daemon;
    QString address;
    std::string problem;

    PrivateBus() {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (program.isEmpty()) {
            problem = "dbus-daemon is not installed";
            return;
        }
        daemon.start(program, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address"),
                               QStringLiteral("--address=unix:tmpdir=/tmp")});
        if (!daemon.waitForStarted(10000) ||
            !QTest::qWaitFor([&] { return daemon.canReadLine(); }, 10000)) {
            problem = "dbus-daemon did not start";
            return;
        }
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon.kill();
        daemon.waitForFinished(5000);
    }
};

AlarmFacts silence() {
    AlarmFacts f;
    f.kind = AlarmKind::Silence;
    f.raised = true;
    f.unit = "Studio A L/R";
    f.serial = "QX7700000042";
    f.heldFor = 10s;
    f.silenceLevelDb = -50;
    return f;
}

TEST(DesktopNotifier, TheServiceHearsTheUnitAndWhatHappened) {
    PrivateBus bus;
    if (!bus.problem.empty()) {
        GTEST_SKIP() << bus.problem;
    }
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, QStringLiteral("svc"));
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, QStringLiteral("cli"));
    ASSERT_TRUE(service.isConnected()) << service.lastError().message().toStdString();
    ASSERT_TRUE(client.isConnected());

    std::vector<std::string> logged;
    DesktopNotifier notifier(client, [&](const std::string& s) { logged.push_back(s); });
    // No service yet: false, and said once however many notices come.
    EXPECT_FALSE(notifier.notify(silence()));
    EXPECT_FALSE(notifier.notify(silence()));
    ASSERT_EQ(logged.size(), 1U);
    EXPECT_EQ(logged[0], "desktop notifications: no notification service on the session bus");

    FakeNotifications fake;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

    int accepted = 0;
    QObject::connect(&notifier, &DesktopNotifier::answered, [&](bool ok) { accepted += ok; });
    EXPECT_TRUE(notifier.notify(silence()));
    AlarmFacts back = silence();
    back.raised = false;
    EXPECT_TRUE(notifier.notify(back));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.notices.size() == 2 && accepted == 2; }, 10000));
    EXPECT_EQ(fake.notices[0].summary, QStringLiteral("Studio A L/R"));
    EXPECT_EQ(fake.notices[0].body,
              QStringLiteral("silence on both channels for 10 s (below -50 dB)"));
    EXPECT_EQ(fake.notices[0].app, QStringLiteral("QX-77ZT"));
    EXPECT_EQ(fake.notices[0].hints.value(QStringLiteral("urgency")).toInt(), 2);
    EXPECT_EQ(fake.notices[1].summary, QStringLiteral("Studio A L/R"));
    EXPECT_EQ(fake.notices[1].body, QStringLiteral("sound is back"));

    // The service gone again: said once more.
    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    EXPECT_FALSE(notifier.notify(silence()));
    EXPECT_EQ(logged.size(), 2U);

    QDBusConnection::disconnectFromBus(QStringLiteral("svc"));
    QDBusConnection::disconnectFromBus(QStringLiteral("cli"));
}

TEST(DesktopNotifier, NoBusIsQuiet) {
    std::vector<std::string> logged;
    QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"));
    DesktopNotifier notifier(none, [&](const std::string& s) { logged.push_back(s); });
    EXPECT_FALSE(notifier.notify(silence()));
    EXPECT_FALSE(notifier.notify(silence()));
    EXPECT_EQ(logged, std::vector<std::string>{"desktop notifications: no session bus"});
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

TEST(AlarmTexts, EachAlarmSaysWhatHappened) {
    const struct {
        AlarmKind kind;
        bool raised;
        std::string body;
    } cases[] = {
        {AlarmKind::Silence, true, "silence on both channels for 10 s (below -50 dB)"},
        {AlarmKind::Silence, false, "sound is back"},
        {AlarmKind::Over, true, "over on the right channel"},
        {AlarmKind::Over, false, "over acknowledged"},
        {AlarmKind::Lost, true, "unplugged or not answering for 10 s"},
        {AlarmKind::Lost, false, "answering again"},
        {AlarmKind::BootLoader, true, "in its boot loader for 10 s, with no update under way"},
        {AlarmKind::BootLoader, false, "out of its boot loader"},
    };
    for (const auto& c : cases) {
        AlarmFacts f = silence();
        f.kind = c.kind;
        f.raised = c.raised;
        f.overChannels = {1};
        EXPECT_EQ(noticeBody(f), c.body);
        EXPECT_EQ(noticeSummary(f), "Studio A L/R");
    }
}

} // namespace
} // namespace qx::watch

#include "test_desktop_notifier.moc"
