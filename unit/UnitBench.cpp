// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/UnitBench.h"

#include <algorithm>
#include <utility>

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

} // namespace

int UnitBench::slotOfPath(const std::string& path) {
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

UnitBench::UnitBench() {
    addUnit(Identity{});
    setPlugged(0, true); // no client yet: being there at load is not a change
}

UnitBench::~UnitBench() {
    std::vector<Slot> slots;
    {
        std::lock_guard lock(mutex_);
        slots.swap(slots_);
    }
    for (Slot& s : slots) {
        s.unit->setRestartHandler({});
    }
}

void UnitBench::attach(BenchClient* client) {
    std::lock_guard lock(clientsMutex_);
    clients_.push_back(client);
}

void UnitBench::detach(BenchClient* client) {
    std::lock_guard lock(clientsMutex_);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void UnitBench::announceChanges() {
    int count = 0;
    {
        std::lock_guard lock(mutex_);
        count = std::exchange(unannounced_, 0);
    }
    if (count == 0) {
        return;
    }
    std::lock_guard lock(clientsMutex_);
    for (BenchClient* c : clients_) {
        c->benchChanged(count);
    }
}

std::vector<hid::DeviceRecord> UnitBench::records() const {
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

uint32_t UnitBench::openPlug(int slot, bool readWrite) const {
    std::lock_guard lock(mutex_);
    if (slot < 0 || slot >= static_cast<int>(slots_.size())) {
        return 0;
    }
    const Slot& s = slots_[static_cast<std::size_t>(slot)];
    // A unit whose node refuses reading and writing still answers queries, as a real node does.
    if (!s.plugged || (readWrite && !s.openable)) {
        return 0;
    }
    return s.plug;
}

std::shared_ptr<VirtualUnit> UnitBench::unitOf(int slot, uint32_t plug) const {
    std::lock_guard lock(mutex_);
    if (slot < 0 || static_cast<std::size_t>(slot) >= slots_.size()) {
        return nullptr;
    }
    const Slot& s = slots_[static_cast<std::size_t>(slot)];
    if (!s.plugged || s.plug != plug) {
        return nullptr;
    }
    return s.unit;
}

bool UnitBench::send(int slot, uint32_t plug, std::span<const uint8_t> report) {
    const std::shared_ptr<VirtualUnit> u = unitOf(slot, plug);
    // Outside the lock: the unit may restart itself, which re-enters the bench.
    if (!u || !u->acceptOutputReport(report)) {
        return false;
    }
    std::lock_guard lock(clientsMutex_);
    for (BenchClient* c : clients_) {
        c->trafficFor(slot);
    }
    return true;
}

int UnitBench::unitCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(slots_.size());
}

int UnitBench::addUnit(const Identity& identity) {
    auto unit = std::make_shared<VirtualUnit>(identity);
    std::lock_guard lock(mutex_);
    const int index = static_cast<int>(slots_.size());
    // The unit's own "leave update" restarts it in normal mode.
    unit->setRestartHandler([this, index](bool boot) { restart(index, boot); });
    slots_.push_back({std::move(unit), false, true, 0});
    return index;
}

void UnitBench::reset() {
    std::vector<Slot> old;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            setPluggedLocked(static_cast<int>(i), false);
        }
        old.swap(slots_);
    }
    for (Slot& s : old) {
        s.unit->setRestartHandler({});
    }
    setPlugged(addUnit(Identity{}), true);
}

VirtualUnit& UnitBench::unit(int index) {
    std::lock_guard lock(mutex_);
    return *slots_.at(static_cast<std::size_t>(index)).unit;
}

void UnitBench::setPluggedLocked(int index, bool plugged) {
    Slot& s = slots_.at(static_cast<std::size_t>(index));
    if (s.plugged == plugged) {
        return;
    }
    s.plugged = plugged;
    s.plug = plugged ? ++plugSerial_ : 0;
    if (!plugged) {
        s.unit->restart(s.unit->bootMode()); // a powered-down unit forgets what was in flight
    }
    ++unannounced_;
}

void UnitBench::setPlugged(int index, bool plugged) {
    {
        std::lock_guard lock(mutex_);
        setPluggedLocked(index, plugged);
    }
    announceChanges();
}

bool UnitBench::plugged(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(static_cast<std::size_t>(index)).plugged;
}

void UnitBench::restart(int index, bool boot) {
    {
        std::lock_guard lock(mutex_);
        const bool wasPlugged = slots_.at(static_cast<std::size_t>(index)).plugged;
        setPluggedLocked(index, false);
        slots_[static_cast<std::size_t>(index)].unit->restart(boot);
        if (wasPlugged) {
            setPluggedLocked(index, true);
        }
    }
    announceChanges();
}

void UnitBench::setOpenable(int index, bool openable) {
    std::lock_guard lock(mutex_);
    slots_.at(static_cast<std::size_t>(index)).openable = openable;
}

} // namespace qx::unit
