// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual units themselves: which are there, plugged in or not, and their restarts. Every
// loaded copy of the virtual library that joined a bench sees the same units through it, as
// copies of the real library see the same device nodes.
#pragma once

#include "hidlib/core/Backend.h"
#include "unit/VirtualBench.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace qx::unit {

// What the bench tells a library copy that uses it. Called with none of the bench's locks held.
class BenchClient {
public:
    virtual ~BenchClient() = default;
    // `count` units were plugged, unplugged or restarted.
    virtual void benchChanged(int count) = 0;
    // The unit in `slot` took a report, so answers may be on their way.
    virtual void trafficFor(int slot) = 0;
};

class UnitBench : public VirtualBench {
public:
    // Starts with one unit of the default identity, plugged in.
    UnitBench();
    // Every client must have left before (the copy that made the bench is unloaded last).
    ~UnitBench() override;
    UnitBench(const UnitBench&) = delete;
    UnitBench& operator=(const UnitBench&) = delete;

    void attach(BenchClient* client);
    void detach(BenchClient* client);

    // The plugged units as the library lists them; a unit's path is "virtual/unit<slot>".
    std::vector<hid::DeviceRecord> records() const;
    // The slot named by a listed path, or -1.
    static int slotOfPath(const std::string& path);
    // Whether the unit in `slot` can be opened so; its present plug-in when it can (a handle
    // from an earlier plug-in is gone), 0 when not.
    uint32_t openPlug(int slot, bool readWrite) const;
    // The unit in `slot` while it is still the plug-in `plug`, else nullptr.
    std::shared_ptr<VirtualUnit> unitOf(int slot, uint32_t plug) const;
    // Hands a report to the unit; false when it is gone or refused it.
    bool send(int slot, uint32_t plug, std::span<const uint8_t> report);

    // VirtualBench
    int unitCount() const override;
    int addUnit(const Identity& identity) override;
    void reset() override;
    VirtualUnit& unit(int index) override;
    void setPlugged(int index, bool plugged) override;
    bool plugged(int index) const override;
    void restart(int index, bool boot) override;
    void setOpenable(int index, bool openable) override;

private:
    struct Slot {
        std::shared_ptr<VirtualUnit> unit;
        bool plugged = false;
        bool openable = true;
        uint32_t plug = 0; // unique on the bench for every plug-in, 0 while unplugged
    };

    void setPluggedLocked(int index, bool plugged);
    // Tells the clients of the changes made since the last call. Called without mutex_.
    void announceChanges();

    mutable std::mutex mutex_;
    std::vector<Slot> slots_; // guarded by mutex_; slots are never removed but by reset()
    uint32_t plugSerial_ = 0; // guarded by mutex_
    int unannounced_ = 0;     // guarded by mutex_

    // Held while clients are told, so that a client that left is never called again.
    mutable std::mutex clientsMutex_;
    std::vector<BenchClient*> clients_; // guarded by clientsMutex_
};

} // namespace qx::unit
