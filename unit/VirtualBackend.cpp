// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/VirtualBackend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace qx::unit {

namespace {

const std::string kPathPrefix = "virtual/unit";

// The unit's report descriptor as the parser summarises it: report ID 1, 64 vendor bytes each
// way (unless the identity declares other lengths).
hid::DescriptorCaps unitCaps(const Identity& id) {
    hid::DescriptorCaps caps;
    const hid::ValueCap cap{0xFF00, 0x01, 0x01, false, 1, 8, 64};
    caps.input.byteLength = id.inputReportLength;
    caps.input.valueCaps = {cap};
    caps.output.byteLength = id.outputReportLength;
    caps.output.valueCaps = {cap};
    caps.numberedReports = true;
    return caps;
}

int slotOfPath(const std::string& path) {
    if (path.rfind(kPathPrefix, 0) != 0 || path.size() == kPathPrefix.size()) {
        return -1;
    }
    int index = 0;
    for (std::size_t i = kPathPrefix.size(); i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9' || index > 1000) {
            return -1;
        }
        index = index * 10 + (path[i] - '0');
    }
    return index;
}

} // namespace

VirtualBackend::VirtualBackend() : changeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    addUnit(Identity{});
    setPlugged(0, true);
    drain(); // being there at load is not a change
}

VirtualBackend::~VirtualBackend() {
    std::vector<Slot> slots;
    {
        std::lock_guard lock(mutex_);
        slots.swap(slots_);
    }
    for (Slot& s : slots) {
        s.unit->setRestartHandler({});
    }
    if (changeFd_ >= 0) {
        ::close(changeFd_);
    }
}

int VirtualBackend::drain() {
    uint64_t n = 0;
    if (::read(changeFd_, &n, sizeof n) != static_cast<ssize_t>(sizeof n)) {
        return 0;
    }
    return static_cast<int>(std::min<uint64_t>(n, 1000));
}

void VirtualBackend::signalChange() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(changeFd_, &one, sizeof one);
}

std::vector<hid::DeviceRecord> VirtualBackend::enumerate() {
    std::lock_guard lock(mutex_);
    std::vector<hid::DeviceRecord> out;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const Slot& s = slots_[i];
        if (!s.plugged) {
            continue;
        }
        const Identity id = s.unit->identity();
        hid::DeviceRecord r;
        r.path = kPathPrefix + std::to_string(i);
        r.vendorId = 0x1209;
        r.productId = 0x0001;
        r.releaseNumber = id.version;
        if (!id.manufacturer.empty()) {
            r.manufacturer = id.manufacturer;
        }
        const std::string product = s.unit->product();
        if (!product.empty()) {
            r.product = product;
        }
        if (!id.serial.empty()) {
            r.serial = id.serial;
        }
        r.caps = unitCaps(id);
        r.readWrite = s.openable;
        out.push_back(std::move(r));
    }
    return out;
}

hid::Handle VirtualBackend::open(const std::string& path, bool readWrite) {
    std::lock_guard lock(mutex_);
    const int index = slotOfPath(path);
    if (index < 0 || index >= static_cast<int>(slots_.size())) {
        return -1;
    }
    const Slot& s = slots_[static_cast<std::size_t>(index)];
    // A unit whose node refuses reading and writing still answers queries, as a real node does.
    if (!s.plugged || (readWrite && !s.openable)) {
        return -1;
    }
    handles_.push_back({index, s.plugCount});
    return static_cast<hid::Handle>(handles_.size() - 1);
}

void VirtualBackend::close(hid::Handle handle) {
    std::lock_guard lock(mutex_);
    if (handle >= 0 && static_cast<std::size_t>(handle) < handles_.size()) {
        handles_[static_cast<std::size_t>(handle)].slot = -1;
    }
    changed_.notify_all();
}

std::shared_ptr<VirtualUnit> VirtualBackend::unitOf(hid::Handle handle) const {
    if (handle < 0 || static_cast<std::size_t>(handle) >= handles_.size()) {
        return nullptr;
    }
    const OpenHandle& h = handles_[static_cast<std::size_t>(handle)];
    if (h.slot < 0 || static_cast<std::size_t>(h.slot) >= slots_.size()) {
        return nullptr;
    }
    const Slot& s = slots_[static_cast<std::size_t>(h.slot)];
    if (!s.plugged || s.plugCount != h.plugCount) {
        return nullptr;
    }
    return s.unit;
}

bool VirtualBackend::sendReport(hid::Handle handle, std::span<const uint8_t> report) {
    std::shared_ptr<VirtualUnit> u;
    {
        std::lock_guard lock(mutex_);
        u = unitOf(handle);
    }
    // Outside the lock: the unit may restart itself, which re-enters the backend.
    if (!u || !u->acceptOutputReport(report)) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        ++traffic_;
    }
    // Once the lock is free: the woken reader would otherwise wake only to wait for it.
    changed_.notify_all();
    return true;
}

bool VirtualBackend::write(hid::Handle handle, std::span<const uint8_t> report,
                           std::chrono::milliseconds) {
    return sendReport(handle, report);
}

bool VirtualBackend::setOutputReport(hid::Handle handle, std::span<const uint8_t> report) {
    return sendReport(handle, report);
}

hid::ReadResult VirtualBackend::read(hid::Handle handle, std::span<uint8_t> buffer) {
    std::shared_ptr<VirtualUnit> u;
    {
        std::lock_guard lock(mutex_);
        u = unitOf(handle);
    }
    if (!u) {
        return {hid::ReadStatus::Gone, 0};
    }
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
            const std::shared_ptr<VirtualUnit> u = unitOf(handle);
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

int VirtualBackend::unitCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(slots_.size());
}

int VirtualBackend::addUnit(const Identity& identity) {
    auto unit = std::make_shared<VirtualUnit>(identity);
    std::lock_guard lock(mutex_);
    const int index = static_cast<int>(slots_.size());
    // The unit's own "leave update" restarts it in normal mode.
    unit->setRestartHandler([this, index](bool boot) { restart(index, boot); });
    slots_.push_back({std::move(unit), false, true, 0});
    return index;
}

void VirtualBackend::reset() {
    std::vector<Slot> old;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            setPluggedLocked(static_cast<int>(i), false);
        }
        old.swap(slots_);
        changed_.notify_all();
    }
    for (Slot& s : old) {
        s.unit->setRestartHandler({});
    }
    setPlugged(addUnit(Identity{}), true);
}

VirtualUnit& VirtualBackend::unit(int index) {
    std::lock_guard lock(mutex_);
    return *slots_.at(static_cast<std::size_t>(index)).unit;
}

void VirtualBackend::setPluggedLocked(int index, bool plugged) {
    Slot& s = slots_.at(static_cast<std::size_t>(index));
    if (s.plugged == plugged) {
        return;
    }
    s.plugged = plugged;
    ++s.plugCount;
    if (!plugged) {
        s.unit->restart(s.unit->bootMode()); // a powered-down unit forgets what was in flight
    }
    signalChange();
}

void VirtualBackend::setPlugged(int index, bool plugged) {
    std::lock_guard lock(mutex_);
    setPluggedLocked(index, plugged);
    changed_.notify_all();
}

bool VirtualBackend::plugged(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(static_cast<std::size_t>(index)).plugged;
}

void VirtualBackend::restart(int index, bool boot) {
    std::lock_guard lock(mutex_);
    const bool wasPlugged = slots_.at(static_cast<std::size_t>(index)).plugged;
    setPluggedLocked(index, false);
    slots_[static_cast<std::size_t>(index)].unit->restart(boot);
    if (wasPlugged) {
        setPluggedLocked(index, true);
    }
    changed_.notify_all();
}

void VirtualBackend::setOpenable(int index, bool openable) {
    std::lock_guard lock(mutex_);
    slots_.at(static_cast<std::size_t>(index)).openable = openable;
}

} // namespace qx::unit
