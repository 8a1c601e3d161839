// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DeviceChangeSettler.h"

namespace qx {

DeviceChangeSettler::DeviceChangeSettler(std::function<bool()> follow, Timing timing,
                                         std::function<bool()> systemBusy, QObject* parent)
    : QObject(parent), follow_(std::move(follow)), timing_(timing),
      systemBusy_(std::move(systemBusy)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &DeviceChangeSettler::fire);
}

void DeviceChangeSettler::changed() {
    lastEvent_ = std::chrono::steady_clock::now();
    timer_.start(timing_.settle);
}

void DeviceChangeSettler::fire() {
    if (systemBusy_ && systemBusy_() &&
        std::chrono::steady_clock::now() - lastEvent_ < timing_.busyLimit) {
        timer_.start(timing_.settle);
        return;
    }
    if (!follow_())
        timer_.start(timing_.retry);
}

} // namespace qx
