// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon in the desktop's tray (the status-notifier service over D-Bus, or the X11
// tray): every unit's state in its tooltip, red while a unit has a latched over or an alarm is
// raised, and a menu to show the window and to quit.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace qx::room {
class UnitRoom;
}

namespace qx::background {

// What the tray shows, read from the room (and the alarms) on each change.
struct TrayUnit {
    QString name;  // the label, or the serial
    QString state; // room::stateWord()
    bool over = false;
};
struct TrayFacts {
    std::vector<TrayUnit> units;
    std::vector<QString> alarms; // one line per raised alarm
};

TrayFacts trayFactsOf(const room::UnitRoom& room);
QString trayToolTip(const TrayFacts& facts);
// Red: a latched over on any unit, or any alarm raised.
bool trayAlarming(const TrayFacts& facts);

// The program's icon, drawn at run time; `alarm` gives its red variant.
QIcon programIcon(bool alarm);

class TrayStatus : public QObject {
    Q_OBJECT
public:
    // `facts` is read on every refresh (units only; the alarms come from activeAlarms).
    explicit TrayStatus(std::function<TrayFacts()> units, QObject* parent = nullptr);
    ~TrayStatus() override;

    // Refreshes on every unit that comes or changes.
    void follow(room::UnitRoom& room);

    // The alarms raised now, one line each ("silence: Studio B"); none while unset.
    std::function<std::vector<QString>()> activeAlarms;

    // Puts the icon in the tray, or takes it out.
    void setVisible(bool visible);
    bool isVisible() const;

    QString toolTip() const;
    bool alarming() const { return alarming_; }
    QSystemTrayIcon& icon() { return *icon_; }
    QMenu& menu() { return *menu_; }
    QAction* showAction() const { return show_; }
    QAction* quitAction() const { return quit_; }

public slots:
    void refresh();
    // The alarm engine calls this whenever an alarm is raised or cleared.
    void alarmsChanged() { refresh(); }

signals:
    // "Show QX-77ZT", or a click on the icon.
    void showRequested();
    // "Quit".
    void quitRequested();

private:
    std::function<TrayFacts()> units_;
    QMenu* menu_ = nullptr; // owned here: a menu has no parent widget to go with
    QSystemTrayIcon* icon_ = nullptr;
    QAction* show_ = nullptr;
    QAction* quit_ = nullptr;
    bool alarming_ = false;
    bool iconSet_ = false;
};

} // namespace qx::background
