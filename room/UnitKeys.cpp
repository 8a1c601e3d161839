// SPDX-License-Identifier: GPL-3.0-or-later
#include "room/UnitKeys.h"

#include <algorithm>

namespace qx::room {

std::vector<UnitKey> keysOf(const std::vector<FoundDevice>& devices) {
    std::vector<UnitKey> keys;
    keys.reserve(devices.size());
    for (const FoundDevice& d : devices) {
        const auto sameSerial = std::count_if(devices.begin(), devices.end(), [&d](const auto& o) {
            return o.usable && o.serial == d.serial;
        });
        keys.push_back({d.serial, sameSerial > 1 || d.serial.empty() ? d.place : std::string{}});
    }
    return keys;
}

bool matches(const UnitKey& key, const FoundDevice& device) {
    return device.serial == key.serial && (key.place.empty() || device.place == key.place);
}

std::string keyText(const UnitKey& key) {
    const std::string serial = key.serial.empty() ? "(no serial)" : key.serial;
    return key.place.empty() ? serial : serial + " at " + key.place;
}

} // namespace qx::room
