// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/linux/UdevMonitor.h"

#include <libudev.h>
#include <unistd.h>

#include <cstring>

namespace hid {

UdevMonitor::UdevMonitor() : udev_(udev_new()) {
    if (udev_ == nullptr)
        return;
    // Events from udev come after its rules have set the node's permissions; without a udev
    // daemon there are only the kernel's.
    const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    monitor_ = udev_monitor_new_from_netlink(udev_, source);
    if (monitor_ == nullptr)
        return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
    }
}

UdevMonitor::~UdevMonitor() {
    if (monitor_ != nullptr)
        udev_monitor_unref(monitor_);
    if (udev_ != nullptr)
        udev_unref(udev_);
}

int UdevMonitor::fd() const {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

int UdevMonitor::drain() {
    int changes = 0;
    if (monitor_ == nullptr)
        return changes;
    while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(dev);
        if (action != nullptr &&
            (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0))
            ++changes;
        udev_device_unref(dev);
    }
    return changes;
}

} // namespace hid
