// SPDX-License-Identifier: GPL-3.0-or-later
#include "room/DeviceScanner.h"

#include "link/DevicePlace.h"

#include <cstring>

namespace qx::room {

FoundDevice foundDevice(const THIDdeviceInfo& info) {
    FoundDevice d;
    d.serial = textOf(info.serial);
    // The library counts the path's terminating zero in its length.
    d.path = textOf(info.path).c_str();
    d.place = qx::devicePlace(d.path);
    d.product = textOf(info.product);
    d.version = versionText(info.releaseNumber);
    d.bootMode = isBootProduct(d.product);
    d.usable = hasTransferReports(info);
    return d;
}

DeviceScanner::~DeviceScanner() {
    if (library_) {
        library_->entry().usbSetEventHandler(nullptr);
    }
    slot_.reset();
    library_.reset();
}

bool DeviceScanner::start(const std::vector<uint8_t>& image,
                          const std::function<void(LoadedLibrary&)>& loaded,
                          std::function<void()> onChange, std::string& error) {
    if (library_) {
        return true;
    }
    auto slot = std::make_unique<HandlerSlot>();
    if (!slot->valid()) {
        error = "no handler slot is left for the device scanner";
        return false;
    }
    auto library = LoadedLibrary::load(image, error);
    if (!library) {
        return false;
    }
    if (loaded) {
        loaded(*library);
    }
    slot->setChangeHandler(std::move(onChange));
    library->entry().usbSetEventHandler(slot->changeHandler());
    slot_ = std::move(slot);
    library_ = std::move(library);
    return true;
}

std::vector<FoundDevice> DeviceScanner::scan() {
    std::vector<FoundDevice> found;
    if (!library_) {
        return found;
    }
    const uint8_t count = library_->entry().scanForDevices();
    for (uint8_t i = 0; i < count; ++i) {
        THIDdeviceInfo info;
        std::memset(&info, 0, sizeof info);
        library_->entry().getDeviceInfo(i, &info);
        if (textOf(info.manufacturer) == kUnitManufacturer) {
            found.push_back(foundDevice(info));
        }
    }
    return found;
}

} // namespace qx::room
