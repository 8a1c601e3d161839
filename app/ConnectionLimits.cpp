// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ConnectionLimits.h"

#include <QLocalSocket>
#include <QTimer>

namespace qx {

namespace {

const QString kSilenceTimer = QStringLiteral("silenceLimit");

void drop(QLocalSocket* peer) {
    peer->abort();
    peer->deleteLater();
}

} // namespace

bool ConnectionLimits::admit(QLocalSocket* peer) {
    if (open_ >= limits.open) {
        refuse(peer);
        return false;
    }
    ++open_;
    connect(peer, &QObject::destroyed, this, [this] { --open_; });
    auto* silence = new QTimer(peer);
    silence->setObjectName(kSilenceTimer);
    silence->setSingleShot(true);
    connect(silence, &QTimer::timeout, peer, [peer] { drop(peer); });
    silence->start(limits.silence);
    return true;
}

void ConnectionLimits::heard(QLocalSocket* peer) {
    delete peer->findChild<QTimer*>(kSilenceTimer, Qt::FindDirectChildrenOnly);
}

void ConnectionLimits::refuse(QLocalSocket* peer) {
    if (refusing_ >= limits.refusing) {
        drop(peer);
        return;
    }
    ++refusing_;
    connect(peer, &QObject::destroyed, this, [this] { --refusing_; });
    peer->write(refusal);
    // What the peer sends is read and dropped: closing on bytes left unread would reset the
    // connection, and the peer might lose the refusal with it.
    connect(peer, &QLocalSocket::readyRead, peer, [peer] { peer->readAll(); });
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    QTimer::singleShot(limits.refusalLinger, peer, [peer] { drop(peer); });
}

} // namespace qx
