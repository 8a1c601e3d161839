// SPDX-License-Identifier: GPL-3.0-or-later
// Which activations of the main window bring the link up. The window is activated whenever it
// gets the focus, from any application; binding closes the unit, rescans every device and opens
// it again, so it runs only on the first activation and when the focus comes back from a dialog
// of this program (the update window, a message, a file dialog), never when the operator comes
// back from another application and never while a firmware transfer runs.
#pragma once

#include <QObject>

#include <functional>

class QWidget;
class QWindow;

namespace qx {

class ActivationGate : public QObject {
    Q_OBJECT
public:
    // `held` is asked on each activation: while it answers true nothing is admitted. `admitted`
    // runs for every activation let through. Both outlive the gate's window.
    ActivationGate(QWidget& window, std::function<bool()> held, std::function<void()> admitted,
                   QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What is remembered of a window that held the focus: never the window itself, which a
    // dialog closed by now has taken with it.
    struct Holder {
        bool dialog = false; // a dialog window of this program
        bool self = false;   // the gate's own window
    };
    void focusMoved(QWindow* now);

    QWidget& window_;
    std::function<bool()> held_;
    std::function<void()> admitted_;
    Holder current_;  // the focus window Qt last reported (none: another application)
    Holder previous_; // the one before it
    bool activatedBefore_ = false;
};

// Brings the program to the front for a later copy: the window in front of the others (an open
// modal window such as the update window during a transfer) rather than the main window behind
// it, so that the main window is not activated under a modal window.
void bringForward(QWidget& mainWindow);

} // namespace qx
