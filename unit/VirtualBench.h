// SPDX-License-Identifier: GPL-3.0-or-later
// Control of the virtual units held by the virtual variant of the HID library: what a test or
// the demo's control window does with its hands on real hardware.
#pragma once

#include "unit/VirtualUnit.h"

namespace qx::unit {

class VirtualBench {
public:
    virtual ~VirtualBench() = default;

    virtual int unitCount() const = 0;
    // Adds an unplugged unit with this identity; returns its number.
    virtual int addUnit(const Identity& identity) = 0;
    // Unplugs and forgets every unit, then plugs in one unit of the default identity, as at load.
    virtual void reset() = 0;
    // The unit itself, to set faults, levels, settings or read its memories.
    virtual VirtualUnit& unit(int index) = 0;

    virtual void setPlugged(int index, bool plugged) = 0;
    virtual bool plugged(int index) const = 0;
    // Restarts the unit in boot or normal mode: it leaves the bus and comes back.
    virtual void restart(int index, bool boot) = 0;
    // A unit that is listed but whose node cannot be opened (no permission, held elsewhere).
    virtual void setOpenable(int index, bool openable) = 0;
};

} // namespace qx::unit

// Exported by the virtual module next to the library's own functions. The bench whose units
// this copy of the module shows: its own, or the one it joined.
extern "C" qx::unit::VirtualBench* VUcontrol(void);
// Makes this copy enumerate, open and read the units of `bench` (what VUcontrol of another
// copy of the same module returned) instead of its own, and report their plugging as device
// changes. Call it right after loading, before this copy's library is asked for anything;
// that other copy must stay loaded for as long as this one is.
extern "C" void VUjoin(qx::unit::VirtualBench* bench);
