// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/UnitPort.h"

#include <algorithm>
#include <cstring>

namespace qx::unit {

namespace {

void putString(THIDstring& field, const std::string& text) {
    const std::size_t n = std::min<std::size_t>(text.size(), sizeof field.text);
    field.length = static_cast<uint8_t>(n);
    std::memcpy(field.text, text.data(), n);
}

} // namespace

void describeUnit(const VirtualUnit& unit, THIDdeviceInfo& info) {
    std::memset(&info, 0, sizeof info);
    const Identity id = unit.identity();
    putString(info.path, std::string("virtual:unit0") + '\0');
    info.outputReportLength = id.outputReportLength;
    info.inputReportLength = id.inputReportLength;
    info.featureReportLength = 0;
    info.outputCaps[0] = {1, 1, 8, 64};
    info.inputCaps[0] = {1, 1, 8, 64};
    info.handle = -1;
    info.vendorId = 0x1209;
    info.productId = 0x0001;
    info.releaseNumber = id.version;
    putString(info.manufacturer, id.manufacturer);
    putString(info.product, unit.product());
    putString(info.serial, id.serial.empty() ? std::string("---") : id.serial);
    info.readWrite = 1;
}

UnitPort::UnitPort(VirtualUnit& unit) : unit_(unit), thread_([this] { deliver(); }) {}

UnitPort::~UnitPort() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        ++wakeGen_;
    }
    changed_.notify_all();
    thread_.join();
}

void UnitPort::setInputHandler(InputHandler handler) {
    std::unique_lock lock(mutex_);
    if (std::this_thread::get_id() != thread_.get_id()) {
        changed_.wait(lock, [this] { return !delivering_; });
    }
    handler_ = std::move(handler);
    ++wakeGen_;
    changed_.notify_all();
}

void UnitPort::setPlugged(bool plugged) {
    std::lock_guard lock(mutex_);
    plugged_ = plugged;
    if (!plugged) {
        open_ = false;
        while (unit_.takeInputReport(Clock::time_point::max())) {
        }
    }
    ++wakeGen_;
    changed_.notify_all();
}

bool UnitPort::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

uint8_t UnitPort::scanForDevices() {
    std::lock_guard lock(mutex_);
    return plugged_ ? 1 : 0;
}

void UnitPort::getDeviceInfo(uint8_t index, THIDdeviceInfo* info) {
    std::lock_guard lock(mutex_);
    if (index == 0 && plugged_ && info != nullptr) {
        describeUnit(unit_, *info);
    }
}

bool UnitPort::openDevice(uint8_t index) {
    std::lock_guard lock(mutex_);
    open_ = plugged_ && index == 0;
    ++wakeGen_;
    changed_.notify_all();
    return open_;
}

bool UnitPort::closeDevice() {
    std::lock_guard lock(mutex_);
    const bool was = open_;
    open_ = false;
    ++wakeGen_;
    changed_.notify_all();
    return was;
}

uint8_t UnitPort::setOutputReport(uint8_t* report) {
    {
        std::lock_guard lock(mutex_);
        if (!open_) {
            return 0;
        }
    }
    if (!unit_.acceptOutputReport(std::span<const uint8_t>(report, 65))) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    ++reportsSent_;
    ++wakeGen_;
    changed_.notify_all();
    return 64;
}

unsigned UnitPort::reportsSent() const {
    std::lock_guard lock(mutex_);
    return reportsSent_;
}

// Stopped by a flag under the lock rather than a stop token, whose callback can leave its waiter
// asleep for good in the Windows build's C++ library.
void UnitPort::deliver() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (open_ && handler_) {
            if (auto report = unit_.takeInputReport()) {
                InputHandler handler = handler_;
                delivering_ = true;
                lock.unlock();
                THIDreport r;
                std::memcpy(&r, report->data(), sizeof r);
                handler(r, 64);
                lock.lock();
                delivering_ = false;
                changed_.notify_all();
                continue;
            }
        }
        const uint64_t seen = wakeGen_;
        auto changed = [&] { return wakeGen_ != seen; };
        const auto next = (open_ && handler_) ? unit_.nextReadyAt() : std::nullopt;
        if (next) {
            changed_.wait_until(lock, *next, changed);
        } else {
            changed_.wait(lock, changed);
        }
    }
}

} // namespace qx::unit
