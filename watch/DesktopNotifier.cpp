// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/DesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace qx::watch {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, std::function<void(const std::string&)> log,
                                 QObject* parent)
    : QObject(parent), bus_(std::move(bus)), log_(std::move(log)) {}

DesktopNotifier::DesktopNotifier(std::function<void(const std::string&)> log, QObject* parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), std::move(log), parent) {}

void DesktopNotifier::problem(const std::string& why) {
    if (!told_ && log_) {
        log_(why);
    }
    told_ = true;
}

bool DesktopNotifier::notify(const AlarmFacts& facts) {
    if (!bus_.isConnected()) {
        problem("desktop notifications: no session bus");
        return false;
    }
    QDBusConnectionInterface* daemon = bus_.interface();
    if (daemon == nullptr || !daemon->isServiceRegistered(kService).value()) {
        problem("desktop notifications: no notification service on the session bus");
        return false;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    // Urgency: critical while something is wrong, normal once it is over.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(facts.raised ? 2 : 1));
    call << QStringLiteral("QX-77ZT") << 0U
         << (facts.raised ? QStringLiteral("dialog-warning") : QStringLiteral("dialog-information"))
         << QString::fromStdString(noticeSummary(facts))
         << QString::fromStdString(noticeBody(facts)) << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        if (reply.isError()) {
            problem("desktop notifications: the service refused a notice: " +
                    reply.error().message().toStdString());
            emit answered(false);
            return;
        }
        told_ = false;
        emit answered(true);
    });
    return true;
}

} // namespace qx::watch
