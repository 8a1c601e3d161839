// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/QuitWhenIdle.h"

namespace qx {

QuitWhenIdle::QuitWhenIdle(std::function<bool()> busy, std::function<void()> quit, QObject* parent)
    : QObject(parent), busy_(std::move(busy)), quit_(std::move(quit)) {
    check_.setInterval(50);
    connect(&check_, &QTimer::timeout, this, &QuitWhenIdle::tryQuit);
}

void QuitWhenIdle::request() {
    if (!check_.isActive()) {
        check_.start();
        tryQuit();
    }
}

void QuitWhenIdle::tryQuit() {
    if (busy_()) {
        return;
    }
    check_.stop();
    quit_();
}

} // namespace qx
