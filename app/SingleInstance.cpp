// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include "app/SameUser.h"

#include <QDir>
#include <QLocalSocket>
#include <QThread>

#include <memory>
#include <optional>
#include <string_view>

namespace qx {

namespace {
// A later copy tries this often, a connect timeout and a pause apart (about six seconds).
constexpr int kAttempts = 20;
constexpr int kConnectTimeoutMs = 250;
constexpr int kPauseMs = 50;
constexpr int kWriteTimeoutMs = 1000;
// How long the rest of a show request that came in pieces may take.
constexpr int kRestOfRequestMs = 3000;
// How often the first copy looks whether it still listens.
constexpr int kRelistenMs = 2000;
} // namespace

QString SingleInstance::endpointName(const QString& key, const QString& folder) {
    return userEndpoint(key, folder);
}

QString SingleInstance::lockFileName(const QString& key, const QString& folder) {
    return QDir(folder).filePath(key + QStringLiteral(".lock"));
}

ShowRequest SingleInstance::showRequestFromEnvironment() {
    return {qEnvironmentVariable("XDG_ACTIVATION_TOKEN").toStdString(),
            qEnvironmentVariable("DESKTOP_STARTUP_ID").toStdString()};
}

SingleInstance::SingleInstance(const QString& key, const QString& folder, QObject* parent)
    : QObject(parent), showRequest(showRequestFromEnvironment()), name_(endpointName(key, folder)),
      lockName_(lockFileName(key, folder)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            if (!connections_.admit(peer)) {
                continue;
            }
            // A show request with its tokens may come in more than one piece: what came so far
            // waits in the peer's buffer until its show line is there.
            auto received = std::make_shared<QByteArray>();
            connect(peer, &QLocalSocket::readyRead, this, [this, peer, received] {
                connections_.heard(peer);
                const bool first = received->isEmpty();
                received->append(peer->readAll());
                if (first && takeConnection && takeConnection(peer, *received)) {
                    disconnect(peer, &QLocalSocket::readyRead, this, nullptr);
                    return;
                }
                const std::string_view bytes(received->constData(),
                                             static_cast<std::size_t>(received->size()));
                if (const std::optional<ShowRequest> request = decodeShowRequest(bytes)) {
                    emit activationRequested(QString::fromStdString(request->activationToken),
                                             QString::fromStdString(request->startupId));
                } else if (mayBeShowRequest(bytes)) {
                    // The rest is given a moment, not a connection held for ever.
                    if (first) {
                        QTimer::singleShot(kRestOfRequestMs, peer,
                                           [peer] { peer->disconnectFromServer(); });
                    }
                    return;
                }
                peer->disconnectFromServer();
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
    relisten_.setInterval(kRelistenMs);
    connect(&relisten_, &QTimer::timeout, this, [this] { keepListening(); });
}

SingleInstance::~SingleInstance() {
    server_.close();
}

SingleInstance::Outcome SingleInstance::claim() {
    // The lock decides who is first, so two copies started together cannot both listen; a lock
    // left by a copy that died is taken over.
    lock_ = std::make_unique<QLockFile>(lockName_);
    if (lock_->tryLock(0)) {
        listen();
        relisten_.start();
        return Outcome::First;
    }
    lock_.reset();
    return deliverShowRequest() ? Outcome::Delivered : Outcome::GaveUp;
}

void SingleInstance::listen() {
    if (server_.listen(name_)) {
        return;
    }
    // The endpoint of a copy that was killed stays behind and takes the name: with the lock
    // ours, no living copy listens there, so it goes and the name is taken again.
    if (server_.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(name_);
        if (server_.listen(name_)) {
            return;
        }
    }
    error_ = server_.errorString();
}

void SingleInstance::keepListening() {
    // The server closes itself, and deletes its socket file, when it cannot accept a connection
    // (no descriptor left, say); nothing would find this copy again, and qx77zt would drive the
    // unit beside it.
    if (server_.isListening()) {
        return;
    }
    listen();
    if (server_.isListening()) {
        error_.clear();
    }
}

bool SingleInstance::deliverShowRequest() {
    // The first copy may still be starting: give it a moment to listen.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            QThread::msleep(kPauseMs);
        }
        QLocalSocket socket;
        socket.connectToServer(name_);
        if (!socket.waitForConnected(kConnectTimeoutMs)) {
            continue;
        }
        if (!peerIsCurrentUser(socket.socketDescriptor())) {
            error_ = QStringLiteral("\"%1\" is another user's; nothing sent there").arg(name_);
            return false;
        }
        socket.write(QByteArray::fromStdString(encodeShowRequest(showRequest)));
        // Written into the connection means the first copy reads it; anything less is tried
        // again.
        while (socket.bytesToWrite() > 0) {
            if (!socket.waitForBytesWritten(kWriteTimeoutMs)) {
                break;
            }
        }
        if (socket.bytesToWrite() == 0) {
            socket.disconnectFromServer();
            return true;
        }
    }
    error_ = QStringLiteral("no answer on \"%1\"").arg(name_);
    return false;
}

} // namespace qx
