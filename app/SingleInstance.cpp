#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace qx {

namespace {
const QByteArray kShowRequest = "show\n";
}

QString SingleInstance::endpointName(const QString& key) {
    return key + QLatin1Char('-') + QString::number(::getuid());
}

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent), name_(endpointName(key)) {}

SingleInstance::~SingleInstance() {
    server_.close();
}

bool SingleInstance::claim() {
    // The lock decides who is first, so two copies started together cannot both listen; a lock
    // left by a copy that died is taken over.
    lock_ = std::make_unique<QLockFile>(QDir::temp().filePath(name_ + QStringLiteral(".lock")));
    if (lock_->tryLock(0)) {
        QLocalServer::removeServer(name_); // a socket left by a copy that died
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        connect(&server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = server_.nextPendingConnection()) {
                connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                    if (peer->readAll().contains(kShowRequest)) {
                        emit activationRequested();
                    }
                    peer->disconnectFromServer();
                });
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            }
        });
        server_.listen(name_);
        return true;
    }
    lock_.reset();
    // The first copy may still be starting: give it a moment to listen.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(name_);
        if (socket.waitForConnected(250)) {
            socket.write(kShowRequest);
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            break;
        }
        QThread::msleep(50);
    }
    return false;
}

} // namespace qx
