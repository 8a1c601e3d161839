// SPDX-License-Identifier: GPL-3.0-or-later
// The window program's side of the hand-off: takes qx77zt's requests from its local socket and
// runs them on its own link, one thread per request, so the window keeps drawing meanwhile and
// shows every change as the unit confirms it.
#pragma once

#include "cli/AnswerBox.h"
#include "cli/UnitCommands.h"
#include "link/LinkState.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class QLocalSocket;

namespace qx::cli {

// What the window program knows of one of its units when a request arrives.
struct WindowUnit {
    bool connected = false;
    // Why the unit is there but cannot be opened; empty otherwise.
    std::string inaccessible;
    ConnectedUnit unit;
    // Its device path, and where it is plugged in when another unit reports its serial (empty
    // otherwise).
    std::string path;
    std::string place;
    // The operator's name for it; empty when none.
    std::string label;
    // Its one word for lists ("connected", "boot loader", ...).
    std::string state;
    // The unit's link and where its update and reset answers arrive; they outlive the service.
    LinkState* link = nullptr;
    AnswerBox* answers = nullptr;
};

class WindowCliService : public QObject {
    Q_OBJECT
public:
    // `units` is asked on the user interface thread, for every unit the program holds.
    explicit WindowCliService(std::function<std::vector<WindowUnit>()> units,
                              QObject* parent = nullptr);
    // Waits for the requests still running (a transfer runs to its end).
    ~WindowCliService() override;

    // Offered each new connection with what it sent first; true when it is a request (or may
    // still become one), which this service then answers. A peer of another user is refused.
    bool take(QLocalSocket* peer, const QByteArray& received);

    // The answer to a peer turned away because too many connections are open: qx77zt shows it
    // and leaves with a failure.
    static QByteArray tooManyConnections();

    // How long a peer may take to send its whole request.
    std::chrono::milliseconds requestPatience{5000};
    std::chrono::milliseconds answerLimit{3000};
    std::chrono::milliseconds verdictLimit{20000};
    std::chrono::milliseconds watchInterval{100};
    // What one request's answer may hold unsent (waiting here for a peer that does not read):
    // a --watch past it is ended, with a message that says why.
    std::size_t unsentLimit = 256 * 1024;
    // The window program's update journal, which a command's transfer is written to as well.
    state::UpdateJournal* journal = nullptr;
    // How qx77zt's messages name the program that serves it.
    std::string program = "the window program";

private:
    class Session;
    std::function<std::vector<WindowUnit>()> units_;
};

} // namespace qx::cli
