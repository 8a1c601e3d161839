// SPDX-License-Identifier: GPL-3.0-or-later
// Ends the program when asked, but not in the middle of a firmware transfer: cut off, it would
// leave the unit with only part of its new firmware. A transfer takes a few seconds at most, well
// within the time a session gives a program to end before it kills it.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace qx {

class QuitWhenIdle : public QObject {
    Q_OBJECT
public:
    // `busy` tells whether a transfer runs; `quit` ends the program.
    QuitWhenIdle(std::function<bool()> busy, std::function<void()> quit, QObject* parent = nullptr);

    // Quits now, or as soon as `busy` turns false (looked at every 50 ms). Repeated requests
    // quit once.
    void request();
    bool waiting() const { return check_.isActive(); }

private:
    void tryQuit();

    std::function<bool()> busy_;
    std::function<void()> quit_;
    QTimer check_;
};

} // namespace qx
