// SPDX-License-Identifier: GPL-3.0-or-later
// Telling units apart: each is known by its serial number and, where two devices report the same
// serial, also by where it is plugged in.
#pragma once

#include <string>
#include <vector>

namespace qx::room {

// A device of the unit's maker as a scan found it.
struct FoundDevice {
    std::string serial;
    std::string path;  // the library's device path
    std::string place; // where it is plugged in (a USB port), or the path where that is unknown
    std::string product;
    std::string version;
    bool bootMode = false;
    // Its reports are the unit's transfer reports: the program can drive it.
    bool usable = false;
};

struct UnitKey {
    std::string serial;
    // Empty unless another device reported the same serial when the unit was first found.
    std::string place;
    friend bool operator==(const UnitKey&, const UnitKey&) = default;
};

// The key of each device, in order: the serial alone, or with the place where another usable
// device reports the same serial (an empty serial counts as one too).
std::vector<UnitKey> keysOf(const std::vector<FoundDevice>& devices);

// Whether `device` is the unit known as `key`.
bool matches(const UnitKey& key, const FoundDevice& device);

// How the unit is named where there is no label: "serial", "serial at place", "(no serial) at
// place".
std::string keyText(const UnitKey& key);

} // namespace qx::room
