// SPDX-License-Identifier: GPL-3.0-or-later
// qx_background_shots <out.png> [tray|grab]: pictures of the background's pieces for review,
// taken from the X server the program runs on. "tray": the tray's menu and tooltip with a unit
// in over and an alarm raised, beside the plain and the red icon; "grab": the whole screen as it
// is now (another program's windows and menus).
// qx_background_shots --watcher: plays a tray host on the session bus until ended, so that the
// program started beside it has its tray.
#include "background/TrayStatus.h"
#include "tests/background/FakeWatcher.h"

#include <QDBusConnection>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--watcher") == 0) {
        qx::FakeWatcher watcher;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                QDBusConnection::ExportAllSlots |
                                    QDBusConnection::ExportAllSignals |
                                    QDBusConnection::ExportAllProperties) ||
            !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
            std::fprintf(stderr, "qx_background_shots: no session bus to play a tray host on\n");
            return 1;
        }
        return app.exec();
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: qx_background_shots <out.png> [tray|grab]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const bool tray = argc < 3 || qstrcmp(argv[2], "tray") == 0;
    using namespace qx::background;
    TrayFacts facts;
    facts.units = {{QStringLiteral("Studio B"), QStringLiteral("connected"), false},
                   {QStringLiteral("QX7700000042"), QStringLiteral("connected"), true},
                   {QStringLiteral("QX7700000043"), QStringLiteral("unplugged"), false}};
    TrayStatus status([&] { return facts; });
    status.activeAlarms = [] { return std::vector<QString>{QStringLiteral("silence: Studio B")}; };
    QLabel icons;
    if (tray) {
        status.refresh();
        QPixmap both(140, 64);
        both.fill(Qt::white);
        {
            QPainter p(&both);
            p.drawPixmap(4, 4, programIcon(false).pixmap(56, 56));
            p.drawPixmap(76, 4, programIcon(true).pixmap(56, 56));
        }
        icons.setPixmap(both);
        icons.move(400, 40);
        icons.show();
        status.menu().popup(QPoint(40, 40));
        // As a tray host shows it (its own tooltip window), beside the menu.
        QTimer::singleShot(300,
                           [&] { QToolTip::showText(QPoint(40, 160), status.toolTip(), &icons); });
    }
    QTimer::singleShot(tray ? 1500 : 100, [&] {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        QCoreApplication::exit(shot.save(out) ? 0 : 1);
    });
    return app.exec();
}
