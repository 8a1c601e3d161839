// SPDX-License-Identifier: GPL-3.0-or-later
// What the window program's local endpoint allows the processes that connect to it: each says
// what it wants within a few seconds or is dropped, and only so many are open at once, so that
// idle or forgotten connections cannot use up the program's descriptors (the endpoint would stop
// listening then). One connection too many is told so and closed.
#pragma once

#include <QByteArray>
#include <QObject>

#include <chrono>

class QLocalSocket;

namespace qx {

// A QObject so that its handlers go with it; it has no signals of its own.
class ConnectionLimits : public QObject {
public:
    struct Limits {
        // From the connection until the peer's first bytes.
        std::chrono::milliseconds silence{3000};
        // Connections open at once, requests being served included.
        int open = 32;
        // Connections being turned away at once; past that they are closed without a word.
        int refusing = 16;
        // How long a connection turned away is kept for its peer to read the refusal.
        std::chrono::milliseconds refusalLinger{2000};
    };

    explicit ConnectionLimits(QObject* parent = nullptr) : QObject(parent) {}

    Limits limits;
    // Written to a peer that is turned away (the command line shows it).
    QByteArray refusal;

    // Takes a connection just accepted. True when it may stay: it is counted until it is
    // destroyed, and dropped if it sends nothing in time. False when too many are open: it is
    // answered with `refusal` and closed here, and the caller leaves it alone.
    bool admit(QLocalSocket* peer);
    // The peer has sent something: the silence limit no longer applies to it.
    void heard(QLocalSocket* peer);

    int openCount() const { return open_; }

private:
    void refuse(QLocalSocket* peer);

    int open_ = 0;
    int refusing_ = 0;
};

} // namespace qx
