// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's side of the hand-over: asks a running monitor for the units and tells when
// it has let go of them, without holding up the window meanwhile. The connection stays open for
// the object's life; the monitor takes the units back when it closes, so the object must outlive
// the window program's unit lock.
#pragma once

#include <QLocalSocket>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace qx::monitor {

class MonitorClient : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Waiting,   // asked, no answer yet
        NoMonitor, // none runs for this user (or the listener is another user's)
        Released,  // the monitor has let go of the units
        NoAnswer,  // it did not let go within the patience, or closed without doing so
    };

    // `endpoint`: the monitor's (SingleInstance::endpointName of its key and the runtime folder).
    explicit MonitorClient(QString endpoint,
                           std::chrono::milliseconds patience = std::chrono::seconds(60),
                           QObject* parent = nullptr);
    // Closes the connection (the monitor then takes the units back) without a word to anyone.
    ~MonitorClient() override;

    // Connects and asks; finished() follows once, never from inside this call.
    void ask();
    bool waiting() const { return outcome_ == Outcome::Waiting; }
    Outcome outcome() const { return outcome_; }

signals:
    // A monitor of this user runs and has been asked: it is handing the units over.
    void handingOver();
    void finished(qx::monitor::MonitorClient::Outcome outcome);

private:
    void connected();
    void received();
    void end(Outcome outcome);

    QString endpoint_;
    std::chrono::milliseconds patience_;
    QLocalSocket socket_;
    QTimer deadline_;
    QByteArray buffer_;
    Outcome outcome_ = Outcome::NoMonitor;
    bool asked_ = false;
};

} // namespace qx::monitor
