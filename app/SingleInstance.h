// SPDX-License-Identifier: GPL-3.0-or-later
// One running copy per user: the first copy listens on a local endpoint named from the main
// window's class and caption, in the user's private runtime folder; a later copy asks it to show
// itself and leaves.
#pragma once

#include "app/ConnectionLimits.h"
#include "app/ShowRequest.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QLocalSocket;

namespace qx {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        First,     // this is the first copy; see listening()
        Delivered, // another copy runs and has been asked to show itself
        GaveUp,    // another copy holds the lock but could not be reached
    };

    // `key` names the endpoint and its lock; `folder` is the user's private runtime folder
    // (userRuntimeFolder()), where the lock lives and, on Linux, the endpoint.
    SingleInstance(const QString& key, const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Decides whether this is the first copy. The first copy listens for later ones; a later
    // copy asks the first to show itself, trying for a few seconds while it may still be
    // starting. A listener of another user is asked nothing: the copy gives up at once.
    Outcome claim();

    // The first copy listens for later ones. When it could not (error() says why), it runs on,
    // but a later copy cannot bring it forward and says so.
    bool listening() const { return server_.isListening(); }
    QString error() const { return error_; }
    // Where the first copy listens (empty while it does not).
    QString serverPath() const { return server_.fullServerName(); }

    static QString endpointName(const QString& key, const QString& folder);
    static QString lockFileName(const QString& key, const QString& folder);

    // Offered every later connection with the bytes it sent first; returns true when it takes
    // the connection over (a command-line request), which is then no longer read here.
    std::function<bool(QLocalSocket*, const QByteArray&)> takeConnection;

    // What the first copy allows the connections it accepts.
    ConnectionLimits& connections() { return connections_; }

    // What a later copy sends with its show request: by default the activation tokens this
    // process was started with (showRequestFromEnvironment()).
    ShowRequest showRequest;
    static ShowRequest showRequestFromEnvironment();

signals:
    // A later copy asked this one to show itself, passing the activation tokens it was given
    // (empty when it had none, or came from a version that sends none).
    void activationRequested(const QString& activationToken, const QString& startupId);

private:
    void listen();
    // Listens again when the server has closed.
    void keepListening();
    bool deliverShowRequest();

    QString name_;
    QString lockName_;
    QString error_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
    ConnectionLimits connections_;
    QTimer relisten_;
};

} // namespace qx
