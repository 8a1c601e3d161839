// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/VirtualBackend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace qx::unit {

VirtualBackend::VirtualBackend(UnitBench& bench)
    : bench_(&bench), changeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    bench.attach(this);
}

VirtualBackend::~VirtualBackend() {
    bench().detach(this);
    if (changeFd_ >= 0) {
        ::close(changeFd_);
    }
}

void VirtualBackend::join(UnitBench& bench) {
    UnitBench& old = this->bench();
    if (&old == &bench) {
        return;
    }
    // Not under mutex_: the benches take it while telling their clients.
    old.detach(this);
    bench.attach(this);
    {
        std::lock_guard lock(mutex_);
        bench_ = &bench;
        for (OpenHandle& h : handles_) {
            h.slot = -1;
        }
    }
    changed_.notify_all();
}

UnitBench& VirtualBackend::bench() const {
    std::lock_guard lock(mutex_);
    return *bench_;
}

int VirtualBackend::drain() {
    uint64_t n = 0;
    if (::read(changeFd_, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) {
        return 0;
    }
    return static_cast<int>(std::min<uint64_t>(n, 1000));
}

void VirtualBackend::poke() {
    // Taken and left: a wait that has looked at the units is waiting by now, and hears it.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

void VirtualBackend::benchChanged(int count) {
    const uint64_t n = static_cast<uint64_t>(count);
    [[maybe_unused]] const ssize_t written = ::write(changeFd_, &n, sizeof n);
    poke();
}

void VirtualBackend::trafficFor(int slot) {
    {
        std::lock_guard lock(mutex_);
        const bool holds = std::any_of(handles_.begin(), handles_.end(),
                                       [slot](const OpenHandle& h) { return h.slot == slot; });
        if (!holds) {
            return; // another copy's unit: this copy's reader sleeps on
        }
    }
    changed_.notify_all();
}

std::vector<hid::DeviceRecord> VirtualBackend::enumerate() {
    return bench().records();
}

hid::Handle VirtualBackend::open(const std::string& path, bool readWrite) {
    std::lock_guard lock(mutex_);
    const int slot = UnitBench::slotOfPath(path);
    const uint32_t plug = bench_->openPlug(slot, readWrite);
    if (plug == 0) {
        return -1;
    }
    handles_.push_back({slot, plug});
    return static_cast<hid::Handle>(handles_.size() - 1);
}

void VirtualBackend::close(hid::Handle handle) {
    {
        std::lock_guard lock(mutex_);
        if (handle >= 0 && static_cast<std::size_t>(handle) < handles_.size()) {
            handles_[static_cast<std::size_t>(handle)].slot = -1;
        }
    }
    changed_.notify_all();
}

VirtualBackend::Target VirtualBackend::targetOf(hid::Handle handle) const {
    std::lock_guard lock(mutex_);
    Target t{bench_, {}};
    if (handle >= 0 && static_cast<std::size_t>(handle) < handles_.size()) {
        t.handle = handles_[static_cast<std::size_t>(handle)];
    }
    return t;
}

bool VirtualBackend::sendReport(hid::Handle handle, std::span<const uint8_t> report) {
    const Target t = targetOf(handle);
    // Without mutex_: the unit may restart, and the bench then tells this backend.
    return t.handle.slot >= 0 && t.bench->send(t.handle.slot, t.handle.plug, report);
}

bool VirtualBackend::write(hid::Handle handle, std::span<const uint8_t> report,
                           std::chrono::milliseconds) {
    return sendReport(handle, report);
}

bool VirtualBackend::setOutputReport(hid::Handle handle, std::span<const uint8_t> report) {
    return sendReport(handle, report);
}

hid::ReadResult VirtualBackend::read(hid::Handle handle, std::span<uint8_t> buffer) {
    const Target t = targetOf(handle);
    const std::shared_ptr<VirtualUnit> u =
        t.handle.slot >= 0 ? t.bench->unitOf(t.handle.slot, t.handle.plug) : nullptr;
    if (!u) {
        return {hid::ReadStatus::Gone, 0};
    }
    // Without mutex_: taking a verdict may restart the unit.
    const auto report = u->takeInputReport();
    if (!report) {
        return {hid::ReadStatus::None, 0};
    }
    const std::size_t n = std::min(buffer.size(), report->size());
    std::memcpy(buffer.data(), report->data(), n);
    return {hid::ReadStatus::Report, n};
}

bool VirtualBackend::getInputReport(hid::Handle, std::span<uint8_t>) {
    return false;
}

bool VirtualBackend::setFeatureReport(hid::Handle, std::span<const uint8_t>) {
    return false;
}

bool VirtualBackend::getFeatureReport(hid::Handle, std::span<uint8_t>) {
    return false;
}

hid::WaitStatus VirtualBackend::wait(hid::Handle handle) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (woken_) {
            woken_ = false;
            return hid::WaitStatus::Woken;
        }
        std::optional<Clock::time_point> next;
        if (handle >= 0) {
            const OpenHandle h = static_cast<std::size_t>(handle) < handles_.size()
                                     ? handles_[static_cast<std::size_t>(handle)]
                                     : OpenHandle{};
            const std::shared_ptr<VirtualUnit> u =
                h.slot >= 0 ? bench_->unitOf(h.slot, h.plug) : nullptr;
            if (!u) {
                return hid::WaitStatus::Gone;
            }
            next = u->nextReadyAt();
            if (next && *next <= Clock::now()) {
                return hid::WaitStatus::Readable;
            }
        }
        if (next) {
            changed_.wait_until(lock, *next);
        } else {
            changed_.wait(lock);
        }
    }
}

void VirtualBackend::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

} // namespace qx::unit
