// SPDX-License-Identifier: GPL-3.0-or-later
// The scan as the library made it before it stopped opening devices: libudev's listing, each node
// opened read-write to learn whether it can be and to ask its ids and descriptor, sysfs and udev
// for the rest. The vm lane compares the library's table with the one this gives.
#include "tests/vm/ReferenceScan.h"

#include "hidlib/linux/SysfsValues.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

namespace qx::vm {

using namespace hid;

namespace {

constexpr size_t kMaxDescriptor = HID_MAX_DESCRIPTOR_SIZE;

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::optional<std::string> nonEmpty(const char* text) {
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    return std::string(text);
}

std::optional<std::string> property(udev_device* dev, const char* name) {
    return dev == nullptr ? std::nullopt : nonEmpty(udev_device_get_property_value(dev, name));
}

std::optional<std::string> attribute(udev_device* dev, const char* name) {
    return dev == nullptr ? std::nullopt : nonEmpty(udev_device_get_sysattr_value(dev, name));
}

// The report descriptor from sysfs, for a node that cannot be opened. Empty when unreadable.
std::vector<uint8_t> readSysfsDescriptor(udev_device* hidParent) {
    std::vector<uint8_t> bytes;
    const char* syspath = hidParent ? udev_device_get_syspath(hidParent) : nullptr;
    if (syspath == nullptr)
        return bytes;
    const std::string file = std::string(syspath) + "/report_descriptor";
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    bytes.resize(kMaxDescriptor);
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

// What an open node tells through its ioctls. Each failure (the device may vanish at any
// moment) just leaves that part empty.
struct NodeFacts {
    std::optional<HidId> id;
    std::vector<uint8_t> descriptor;
};

NodeFacts queryNode(int fd) {
    NodeFacts facts;
    hidraw_devinfo info{};
    if (::ioctl(fd, HIDIOCGRAWINFO, &info) == 0)
        facts.id = HidId{static_cast<uint16_t>(info.bustype), static_cast<uint16_t>(info.vendor),
                         static_cast<uint16_t>(info.product)};
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 &&
        static_cast<size_t>(size) <= kMaxDescriptor) {
        auto desc = std::make_unique<hidraw_report_descriptor>();
        desc->size = static_cast<uint32_t>(size);
        if (::ioctl(fd, HIDIOCGRDESC, desc.get()) == 0)
            facts.descriptor.assign(desc->value, desc->value + size);
    }
    return facts;
}

std::optional<DeviceRecord> probe(udev_device* dev) {
    const char* node = udev_device_get_devnode(dev);
    if (node == nullptr)
        return std::nullopt;
    DeviceRecord record;
    record.path = node;
    udev_device* hidParent = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);

    NodeFacts facts;
    const int fd = ::open(node, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    record.readWrite = fd >= 0;
    if (fd >= 0) {
        facts = queryNode(fd);
        ::close(fd);
    }
    if (!facts.id) {
        if (const auto hidId = property(hidParent, "HID_ID"))
            facts.id = parseHidId(*hidId);
    }
    if (facts.descriptor.empty())
        facts.descriptor = readSysfsDescriptor(hidParent);
    if (!facts.id)
        return std::nullopt;
    record.vendorId = facts.id->vendorId;
    record.productId = facts.id->productId;

    udev_device* usb = facts.id->bus == BUS_USB
                           ? udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")
                           : nullptr;
    if (usb != nullptr) {
        record.manufacturer = attribute(usb, "manufacturer");
        record.product = attribute(usb, "product");
        record.serial = attribute(usb, "serial");
        if (const auto bcd = attribute(usb, "bcdDevice"))
            record.releaseNumber = parseHex16(*bcd).value_or(0);
    } else {
        record.product = property(hidParent, "HID_NAME");
        record.serial = property(hidParent, "HID_UNIQ");
    }
    if (!facts.descriptor.empty())
        record.caps = parseReportDescriptor(facts.descriptor);
    return record;
}

} // namespace

std::vector<DeviceRecord> referenceScan() {
    std::vector<DeviceRecord> records;
    const std::unique_ptr<udev, UdevDeleter> u(udev_new());
    if (!u)
        return records;
    const std::unique_ptr<udev_enumerate, UdevDeleter> e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0)
        return records;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        // A device removed since the listing simply yields no record.
        const std::unique_ptr<udev_device, UdevDeleter> dev(
            udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!dev)
            continue;
        if (auto record = probe(dev.get()))
            records.push_back(std::move(*record));
    }
    return records;
}

} // namespace qx::vm
