// SPDX-License-Identifier: GPL-3.0-or-later
#include "background/TrayStatus.h"

#include "room/UnitRoom.h"
#include "tools/icon/IconDrawing.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace qx::background {

TrayFacts trayFactsOf(const room::UnitRoom& room) {
    TrayFacts facts;
    for (int i = 0; i < room.count(); ++i) {
        const room::RoomUnit& u = room.unit(i);
        facts.units.push_back({QString::fromStdString(u.name()),
                               QString::fromLatin1(room::stateWord(u.state())),
                               u.levels().anyOver()});
    }
    return facts;
}

QString trayToolTip(const TrayFacts& facts) {
    QStringList lines{QStringLiteral("QX-77ZT")};
    if (facts.units.empty()) {
        lines << QStringLiteral("No unit found");
    }
    for (const TrayUnit& u : facts.units) {
        lines << QStringLiteral("%1: %2%3")
                     .arg(u.name, u.state, u.over ? QStringLiteral(", over") : QString());
    }
    for (const QString& alarm : facts.alarms) {
        lines << QStringLiteral("Alarm: %1").arg(alarm);
    }
    return lines.join(QLatin1Char('\n'));
}

bool trayAlarming(const TrayFacts& facts) {
    return !facts.alarms.empty() || std::any_of(facts.units.begin(), facts.units.end(),
                                                [](const TrayUnit& u) { return u.over; });
}

QIcon programIcon(bool alarm) {
    QIcon icon;
    for (const int size : kIconSizes) {
        QImage image = drawProgramIcon(size);
        if (alarm) {
            // Red over the whole panel, its meters still showing through: the same icon, at a
            // glance in alarm.
            QPainter p(&image);
            p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            p.fillRect(image.rect(), QColor(230, 0, 0, 170));
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

TrayStatus::TrayStatus(std::function<TrayFacts()> units, QObject* parent)
    : QObject(parent), units_(std::move(units)), menu_(new QMenu),
      icon_(new QSystemTrayIcon(this)) {
    menu_->setObjectName(QStringLiteral("trayMenu"));
    show_ = menu_->addAction(QStringLiteral("Show QX-77ZT"), this, &TrayStatus::showRequested);
    show_->setObjectName(QStringLiteral("trayShow"));
    menu_->addSeparator();
    quit_ = menu_->addAction(QStringLiteral("Quit"), this, &TrayStatus::quitRequested);
    quit_->setObjectName(QStringLiteral("trayQuit"));
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    emit showRequested();
                }
            });
    refresh();
}

TrayStatus::~TrayStatus() {
    delete icon_;
    delete menu_;
}

void TrayStatus::follow(room::UnitRoom& room) {
    connect(&room, &room::UnitRoom::unitAdded, this, &TrayStatus::refresh);
    connect(&room, &room::UnitRoom::unitChanged, this, &TrayStatus::refresh);
    refresh();
}

void TrayStatus::setVisible(bool visible) {
    icon_->setVisible(visible);
}

bool TrayStatus::isVisible() const {
    return icon_->isVisible();
}

QString TrayStatus::toolTip() const {
    return icon_->toolTip();
}

void TrayStatus::refresh() {
    TrayFacts facts = units_ ? units_() : TrayFacts{};
    if (activeAlarms) {
        facts.alarms = activeAlarms();
    }
    const QString tip = trayToolTip(facts);
    if (tip != icon_->toolTip()) {
        icon_->setToolTip(tip);
    }
    const bool red = trayAlarming(facts);
    // Drawn only when it turns, not on every change of a unit.
    if (!iconSet_ || red != alarming_) {
        alarming_ = red;
        iconSet_ = true;
        icon_->setIcon(programIcon(red));
    }
}

} // namespace qx::background
