// SPDX-License-Identifier: GPL-3.0-or-later
// The window program in the background: its tray icon, "Keep watching when the window is
// closed" (closing the main window hides it and the program goes on: links, alarms, the command
// line's service), "Start at login", and a start with the window hidden. Where the desktop
// offers no tray, closing the window ends the program as ever and the setting says why.
#pragma once

#include "background/Autostart.h"
#include "background/DesktopSettings.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace qx::room {
class UnitRoom;
}

namespace qx::background {

class TrayStatus;

// What a greyed "Keep watching" says.
inline constexpr const char* kNoTrayText =
    "No system tray here: closing the window ends the program.";

struct DesktopSetup {
    QWidget* window = nullptr; // the main window
    QMenu* menu = nullptr;     // where the two settings go (the File menu)
    QAction* before = nullptr; // ... in front of this action (Close)
    room::UnitRoom* room = nullptr;
    bool demo = false;
    // Brings the main window forward (shown, raised, activated).
    std::function<void()> show{};
    // The program's orderly quit (it waits for a transfer under way).
    std::function<void()> quit{};
    // Whether a tray is there; QSystemTrayIcon::isSystemTrayAvailable() when unset.
    std::function<bool()> trayAvailable{};
    // Where the setting is kept; desktopSettingsPath(demo) when empty.
    QString settingsPath{};
    // The binary the autostart entry starts; the running one when empty.
    QString program{};
};

class Desktop : public QObject {
    Q_OBJECT
public:
    explicit Desktop(DesktopSetup setup, QObject* parent = nullptr);
    ~Desktop() override;

    // Quits the program the way its window does: a close of the main window that follows goes
    // through, and the program ends once no transfer runs.
    void requestQuit();
    // From now on a close of the main window goes through (the program is ending).
    void letCloseThrough() { quitting_ = true; }

    // Whether the program may start with its window hidden: only with a tray to bring it back.
    // When not, says why on the standard error.
    bool mayStartHidden();

    // The alarms raised now, one line each ("silence: Studio B"), for the tray's tooltip and
    // colour; kept for a tray that comes later. Call alarmsChanged() whenever one is raised or
    // cleared.
    void setActiveAlarms(std::function<std::vector<QString>()> alarms);
    void alarmsChanged();

    bool trayInUse() const { return tray_ != nullptr; }
    // Whether a close of the main window hides it now.
    bool hidesOnClose() const;
    // The tray icon; null where there is no tray.
    TrayStatus* tray() const { return tray_.get(); }
    QAction* keepWatchingAction() const { return keepWatching_; }
    QAction* startAtLoginAction() const { return startAtLogin_; }
    const DesktopSettings& settings() const { return settings_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes the tray when one has come since; greys the setting while there is none.
    void followTray();
    void syncActions();
    void keepWatchingToggled(bool on);
    void startAtLoginToggled(bool on);
    // Whether the link could not be brought up at all: then closing ends the program as ever.
    bool startFailed() const;

    DesktopSetup setup_;
    DesktopSettings settings_;
    AutostartEntry autostart_;
    std::unique_ptr<TrayStatus> tray_;
    std::function<std::vector<QString>()> alarms_;
    QAction* keepWatching_ = nullptr;
    QAction* startAtLogin_ = nullptr;
    bool quitting_ = false;
    bool painted_ = false;
};

} // namespace qx::background
