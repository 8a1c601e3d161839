// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSButtonTimer.h"

#include <utility>

THSButtonTimer::THSButtonTimer(Notify doNotify) : QTimer(nullptr), FNotify(std::move(doNotify)) {
    setInterval(kIntervalMs);
    connect(this, &QTimer::timeout, this, [this] {
        if (FNotify) {
            FNotify(this);
        }
    });
}

void THSButtonTimer::Start() {
    start();
}

void THSButtonTimer::Suspend() {
    stop();
}

bool THSButtonTimer::Suspended() const {
    return !isActive();
}
