// SPDX-License-Identifier: GPL-3.0-or-later
// Tells the desktop's notification service (org.freedesktop.Notifications on the session bus)
// of an alarm: the unit's name as the title, what happened as the text. Where no such service
// runs (a headless machine, a bare session) it says so once and stays quiet.
#pragma once

#include "watch/AlarmActions.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <string>

namespace qx::watch {

class DesktopNotifier : public QObject, public AlarmNotifier {
    Q_OBJECT
public:
    // `log` hears why notices cannot be shown, once until one is shown again.
    explicit DesktopNotifier(QDBusConnection bus, std::function<void(const std::string&)> log,
                             QObject* parent = nullptr);
    // On the session bus.
    explicit DesktopNotifier(std::function<void(const std::string&)> log,
                             QObject* parent = nullptr);

    // Sends the notice without waiting for the service's answer; false when there is no bus or
    // no service on it.
    bool notify(const AlarmFacts& facts) override;

signals:
    // The service answered a notice (accepted: true) or refused it.
    void answered(bool accepted);

private:
    void problem(const std::string& why);

    QDBusConnection bus_;
    std::function<void(const std::string&)> log_;
    bool told_ = false;
};

} // namespace qx::watch
