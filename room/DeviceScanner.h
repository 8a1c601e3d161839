// SPDX-License-Identifier: GPL-3.0-or-later
// A copy of the HID library that opens nothing: it lists the devices and hears of every plug and
// unplug, for all units at once.
#pragma once

#include "link/USB.h"
#include "room/UnitKeys.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qx::room {

class DeviceScanner {
public:
    DeviceScanner() = default;
    ~DeviceScanner();
    DeviceScanner(const DeviceScanner&) = delete;
    DeviceScanner& operator=(const DeviceScanner&) = delete;

    // Loads its copy from `image` (calling `loaded` with it first) and follows device changes
    // with `onChange`, on the thread that loads it. False, with the reason in `error`, when the
    // copy cannot be had.
    bool start(const std::vector<uint8_t>& image, const std::function<void(LoadedLibrary&)>& loaded,
               std::function<void()> onChange, std::string& error);
    bool started() const { return library_ != nullptr; }
    LoadedLibrary* library() const { return library_.get(); }

    // Every device of the unit's maker now on the bus.
    std::vector<FoundDevice> scan();

private:
    std::unique_ptr<LoadedLibrary> library_;
    std::unique_ptr<HandlerSlot> slot_;
};

// A device as the library describes it.
FoundDevice foundDevice(const THIDdeviceInfo& info);

} // namespace qx::room
