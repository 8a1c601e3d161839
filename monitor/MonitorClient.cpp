// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/MonitorClient.h"

#include "app/SameUser.h"
#include "monitor/MonitorProtocol.h"

namespace qx::monitor {

namespace {
// More than any answer of the monitor's, less than a request could fill.
constexpr qsizetype kMostAnswered = 64;
} // namespace

MonitorClient::MonitorClient(QString endpoint, std::chrono::milliseconds patience, QObject* parent)
    : QObject(parent), endpoint_(std::move(endpoint)), patience_(patience) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { end(Outcome::NoAnswer); });
    connect(&socket_, &QLocalSocket::connected, this, &MonitorClient::connected);
    connect(&socket_, &QLocalSocket::readyRead, this, &MonitorClient::received);
    connect(&socket_, &QLocalSocket::errorOccurred, this, [this] {
        // Before the connection: nobody listens (or only a socket left by a monitor that died).
        // After it: the monitor went before it let go, and left the lock with its process.
        end(socket_.state() == QLocalSocket::ConnectedState || asked_ ? Outcome::NoAnswer
                                                                      : Outcome::NoMonitor);
    });
    connect(&socket_, &QLocalSocket::disconnected, this, [this] { end(Outcome::NoAnswer); });
}

MonitorClient::~MonitorClient() {
    // The socket closes after the rest has gone: its last signals must not reach this object.
    disconnect(&socket_, nullptr, this, nullptr);
}

void MonitorClient::ask() {
    outcome_ = Outcome::Waiting;
    deadline_.start(patience_);
    // Queued: a refusal can come from inside connectToServer, and the caller is told later.
    QMetaObject::invokeMethod(
        this, [this] { socket_.connectToServer(endpoint_); }, Qt::QueuedConnection);
}

void MonitorClient::connected() {
    // Only a monitor of this user is asked: another user's listener is none of ours.
    if (!peerIsCurrentUser(socket_.socketDescriptor())) {
        end(Outcome::NoMonitor);
        socket_.abort();
        return;
    }
    asked_ = true;
    socket_.write(kReleaseRequest);
    emit handingOver();
}

void MonitorClient::received() {
    buffer_ += socket_.read(kMostAnswered - buffer_.size());
    if (buffer_.contains(kReleased)) {
        end(Outcome::Released);
    } else if (buffer_.size() >= kMostAnswered) {
        end(Outcome::NoAnswer);
    }
}

void MonitorClient::end(Outcome outcome) {
    if (outcome_ != Outcome::Waiting) {
        return;
    }
    outcome_ = outcome;
    deadline_.stop();
    emit finished(outcome);
}

} // namespace qx::monitor
