// SPDX-License-Identifier: GPL-3.0-or-later
#include "background/Desktop.h"

#include "background/ActivationToken.h"
#include "background/TrayStatus.h"
#include "room/UnitRoom.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include <cstdio>

namespace qx::background {

Desktop::Desktop(DesktopSetup setup, QObject* parent)
    : QObject(parent), setup_(std::move(setup)),
      settings_(setup_.settingsPath.isEmpty() ? desktopSettingsPath(setup_.demo)
                                              : setup_.settingsPath),
      autostart_(autostartEntry(setup_.demo, setup_.program.isEmpty()
                                                 ? QCoreApplication::applicationFilePath()
                                                 : setup_.program)) {
    if (!setup_.trayAvailable) {
        setup_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    }
    if (const QString trouble = settings_.load(); !trouble.isEmpty()) {
        qWarning("QX-77ZT: %s", qPrintable(trouble));
    }

    keepWatching_ = new QAction(QStringLiteral("&Keep watching when the window is closed"), this);
    keepWatching_->setObjectName(QStringLiteral("KEEPWATCHING"));
    keepWatching_->setCheckable(true);
    keepWatching_->setChecked(settings_.keepWatching);
    connect(keepWatching_, &QAction::toggled, this, &Desktop::keepWatchingToggled);
    startAtLogin_ = new QAction(QStringLiteral("Start at lo&gin"), this);
    startAtLogin_->setObjectName(QStringLiteral("STARTATLOGIN"));
    startAtLogin_->setCheckable(true);
    startAtLogin_->setToolTip(
        QStringLiteral("Starts the program with its window hidden when you log in."));
    connect(startAtLogin_, &QAction::toggled, this, &Desktop::startAtLoginToggled);
    if (setup_.menu != nullptr) {
        setup_.menu->insertAction(setup_.before, keepWatching_);
        setup_.menu->insertAction(setup_.before, startAtLogin_);
        setup_.menu->insertSeparator(setup_.before);
        // Why a setting is greyed shows where it is read.
        setup_.menu->setToolTipsVisible(true);
        // The tray or the autostart entry may have come or gone since the menu was last open.
        connect(setup_.menu, &QMenu::aboutToShow, this, [this] {
            followTray();
            syncActions();
        });
    }
    if (setup_.window != nullptr) {
        setup_.window->installEventFilter(this);
    }
    followTray();
    syncActions();
}

Desktop::~Desktop() {
    if (setup_.window != nullptr) {
        setup_.window->removeEventFilter(this);
    }
}

void Desktop::followTray() {
    if (!tray_ && setup_.trayAvailable()) {
        tray_ = std::make_unique<TrayStatus>(
            [room = setup_.room] { return room != nullptr ? trayFactsOf(*room) : TrayFacts{}; });
        tray_->activeAlarms = alarms_;
        if (setup_.room != nullptr) {
            tray_->follow(*setup_.room);
        } else {
            tray_->refresh();
        }
        connect(tray_.get(), &TrayStatus::showRequested, this, [this] {
            if (setup_.show) {
                setup_.show();
            }
        });
        connect(tray_.get(), &TrayStatus::quitRequested, this, &Desktop::requestQuit);
        tray_->setVisible(true);
        // With a tray, the program ends when its main window is closed for good (or from the
        // tray), never because its last visible window went: the main window may be hidden
        // while the demo's or the units window is closed.
        QApplication::setQuitOnLastWindowClosed(false);
    }
}

void Desktop::setActiveAlarms(std::function<std::vector<QString>()> alarms) {
    alarms_ = std::move(alarms);
    if (tray_) {
        tray_->activeAlarms = alarms_;
        tray_->refresh();
    }
}

void Desktop::alarmsChanged() {
    if (tray_) {
        tray_->alarmsChanged();
    }
}

void Desktop::syncActions() {
    const bool tray = trayInUse();
    keepWatching_->setEnabled(tray);
    keepWatching_->setToolTip(tray ? QStringLiteral("Closing the window hides it; the program "
                                                    "goes on watching from the tray.")
                                   : QString::fromLatin1(kNoTrayText));
    {
        const QSignalBlocker quiet(startAtLogin_);
        startAtLogin_->setChecked(autostartEnabled(autostart_));
    }
}

bool Desktop::hidesOnClose() const {
    return settings_.keepWatching && trayInUse() && !quitting_ && !startFailed();
}

bool Desktop::startFailed() const {
    return setup_.room != nullptr && !setup_.room->started() && !setup_.room->lastError().empty();
}

void Desktop::keepWatchingToggled(bool on) {
    settings_.keepWatching = on;
    if (const QString trouble = settings_.save(); !trouble.isEmpty()) {
        qWarning("QX-77ZT: the setting is not kept: %s", qPrintable(trouble));
    }
}

void Desktop::startAtLoginToggled(bool on) {
    const QString trouble = on ? enableAutostart(autostart_) : disableAutostart(autostart_);
    if (!trouble.isEmpty()) {
        qWarning("QX-77ZT: %s", qPrintable(trouble));
    }
    syncActions();
}

void Desktop::requestQuit() {
    quitting_ = true;
    if (setup_.quit) {
        setup_.quit();
    }
}

bool Desktop::mayStartHidden() {
    followTray();
    if (trayInUse()) {
        return true;
    }
    std::fprintf(stderr, "QX-77ZT: --hidden: no system tray here to bring the window back from, "
                         "so the window is shown.\n");
    return false;
}

bool Desktop::eventFilter(QObject* watched, QEvent* event) {
    if (watched == setup_.window && event->type() == QEvent::Paint && !painted_) {
        // Painted only once the display server shows it (a compositor has configured it).
        painted_ = true;
        qCDebug(lcBackground, "main window shown (%s)",
                qPrintable(QGuiApplication::platformName()));
    }
    if (watched != setup_.window || event->type() != QEvent::Close) {
        return QObject::eventFilter(watched, event);
    }
    followTray();
    if (hidesOnClose()) {
        // Hidden, not closed: the window's own close would stop every link.
        event->ignore();
        setup_.window->hide();
        return true;
    }
    if (trayInUse() && !quitting_) {
        // Closing ends the program, as without a tray; the tray took away the end that came
        // with the last window, so it is asked for here (after the window's own close).
        quitting_ = true;
        QMetaObject::invokeMethod(this, &Desktop::requestQuit, Qt::QueuedConnection);
    }
    return false;
}

} // namespace qx::background
