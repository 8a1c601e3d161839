// SPDX-License-Identifier: GPL-3.0-or-later
// The interval timer that drives a button's hot-track fade.
#ifndef QX_CONTROLS_HSBUTTONTIMER_H
#define QX_CONTROLS_HSBUTTONTIMER_H

#include <QTimer>

#include <functional>

// Ticks every 30 ms on the thread that created it, through that thread's event loop. It has no
// parent: the button that creates it owns it.
class THSButtonTimer : public QTimer {
    Q_OBJECT
public:
    using Notify = std::function<void(THSButtonTimer* sender)>;

    static constexpr int kIntervalMs = 30;

    explicit THSButtonTimer(Notify doNotify);

    void Start();
    void Suspend();
    bool Suspended() const;

private:
    Notify FNotify;
};

#endif
