// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ActivationGate.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace qx {

ActivationGate::ActivationGate(QWidget& window, std::function<bool()> held,
                               std::function<void()> admitted, QObject* parent)
    : QObject(parent), window_(window), held_(std::move(held)), admitted_(std::move(admitted)) {
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this,
            [this](QWindow* now) { focusMoved(now); });
    window_.installEventFilter(this);
}

void ActivationGate::focusMoved(QWindow* now) {
    previous_ = current_;
    current_ = Holder{now != nullptr && now->type() == Qt::Dialog,
                      now != nullptr && now == window_.windowHandle()};
}

bool ActivationGate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::WindowActivate) {
        // Qt reports the new focus window after the activation on some platforms and before it
        // on others: when it already names this window, the focus came from the one before.
        const Holder& from = current_.self ? previous_ : current_;
        if ((!activatedBefore_ || from.dialog) && !held_()) {
            activatedBefore_ = true;
            admitted_();
        }
    }
    return QObject::eventFilter(watched, event);
}

void bringForward(QWidget& mainWindow) {
    mainWindow.showNormal();
    mainWindow.raise();
    QWidget* front = QApplication::activeModalWidget();
    if (front == nullptr) {
        front = &mainWindow;
    }
    front->raise();
    front->activateWindow();
}

} // namespace qx
