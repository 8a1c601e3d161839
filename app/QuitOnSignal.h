// SPDX-License-Identifier: GPL-3.0-or-later
// Turns the signals a desktop session or a terminal sends to end a program (SIGTERM at logout or
// shutdown, SIGINT, SIGHUP) into a Qt signal on the user interface thread, so the program can
// close its windows and leave its event loop as when the operator closes it, instead of being
// cut off in the middle of its threads.
//
// How the request arrives differs by system (linux/, windows/); this object only hands it on.
#pragma once

#include <QObject>

#include <csignal>
#include <memory>
#include <vector>

namespace qx {

class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    // Linux: catches SIGTERM, SIGINT and SIGHUP, except one that the program was started with
    // ignored (nohup, a background job of a shell): that one stays ignored. Windows: ^C and
    // ^Break of a console the program is attached to arrive as SIGINT; the end of the session
    // reaches Qt as a close of the windows. One object at a time.
    explicit QuitOnSignal(QObject* parent = nullptr);
    // Gives each signal back the handling it had before.
    ~QuitOnSignal() override;

    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

signals:
    // One of the caught signals arrived (emitted on this object's thread, once per arrival).
    void received(int signal);

private:
    // Emits received() for each number in turn; stops if a receiver ended this object.
    void deliver(const std::vector<int>& numbers);

    // What the system needs kept while the object lives (the handlers it replaced).
    struct Hook;
    std::unique_ptr<Hook> hook_;
};

} // namespace qx
