// SPDX-License-Identifier: GPL-3.0-or-later
// The scan reads what it lists from sysfs and never opens a device node: opening a hidraw node
// starts the kernel's interrupt polling of that device, and opening every node of the machine
// costs far more than the rest of the scan. Whether this user may open a node read-write comes
// from the kernel's own permission check on it, so ACLs and effective ids count as at open().
#include "hidlib/linux/LinuxBackend.h"
#include "hidlib/linux/SysfsValues.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <unistd.h>

#include <memory>
#include <string_view>

namespace hid {

namespace {

constexpr size_t kMaxDescriptor = HID_MAX_DESCRIPTOR_SIZE;
// sysfs gives at most one page for a text attribute.
constexpr size_t kMaxAttribute = 4096;

// The whole file, up to `limit` bytes; nullopt when it cannot be read.
std::optional<std::string> readFile(const std::string& path, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string bytes(limit, '\0');
    size_t got = 0;
    bool failed = false;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        failed = n < 0;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    bytes.resize(got);
    return bytes;
}

// A text attribute as udev gives it: up to the first NUL, trailing line ends dropped, nullopt
// when missing or empty.
std::optional<std::string> attribute(const std::string& dir, const char* name) {
    auto text = readFile(dir + "/" + name, kMaxAttribute);
    if (!text)
        return std::nullopt;
    text->resize(std::min(text->size(), text->find('\0')));
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r'))
        text->pop_back();
    if (text->empty())
        return std::nullopt;
    return text;
}

// One KEY=value line of a device's uevent file; nullopt when missing or empty.
std::optional<std::string> ueventValue(std::string_view uevent, std::string_view key) {
    size_t at = 0;
    while (at < uevent.size()) {
        size_t end = uevent.find('\n', at);
        if (end == std::string_view::npos)
            end = uevent.size();
        const std::string_view line = uevent.substr(at, end - at);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=') {
            const std::string_view value = line.substr(key.size() + 1);
            if (value.empty())
                return std::nullopt;
            return std::string(value);
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::string uevent(const std::string& dir) {
    return readFile(dir + "/uevent", kMaxAttribute).value_or(std::string());
}

std::string parentDir(const std::string& dir) {
    const size_t slash = dir.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : dir.substr(0, slash);
}

// The name of the subsystem a device directory belongs to: the last part of its "subsystem" link.
std::string subsystemOf(const std::string& dir) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink((dir + "/subsystem").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    const std::string_view link(target, static_cast<size_t>(n));
    const size_t slash = link.rfind('/');
    return std::string(slash == std::string_view::npos ? link : link.substr(slash + 1));
}

// The nearest ancestor of `dir` inside `devicesRoot` of this subsystem (and device type, when
// given), as udev finds a parent; empty when there is none.
std::string ancestor(const std::string& dir, const std::string& devicesRoot,
                     std::string_view subsystem, std::string_view devtype = {}) {
    for (std::string at = parentDir(dir); at.size() > devicesRoot.size(); at = parentDir(at)) {
        if (subsystemOf(at) != subsystem)
            continue;
        if (devtype.empty() || ueventValue(uevent(at), "DEVTYPE") == std::string(devtype))
            return at;
    }
    return {};
}

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// The device directories of the hidraw class, in udev's order: by device path.
std::vector<std::string> hidrawDevices(const std::string& classDir) {
    std::vector<std::string> dirs;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(classDir.c_str()), ::closedir);
    if (!listing)
        return dirs;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        // A device removed since the listing simply yields no record.
        std::string dir = canonical(classDir + "/" + entry->d_name);
        if (!dir.empty())
            dirs.push_back(std::move(dir));
    }
    std::sort(dirs.begin(), dirs.end());
    return dirs;
}

std::optional<DeviceRecord> describe(const std::string& dir, const std::string& devicesRoot,
                                     const ScanRoots& roots) {
    const auto devName = ueventValue(uevent(dir), "DEVNAME");
    if (!devName)
        return std::nullopt;
    const std::string hidParent = ancestor(dir, devicesRoot, "hid");
    if (hidParent.empty())
        return std::nullopt;
    const std::string hidUevent = uevent(hidParent);
    const auto hidIdText = ueventValue(hidUevent, "HID_ID");
    const auto id = hidIdText ? parseHidId(*hidIdText) : std::nullopt;
    if (!id)
        return std::nullopt;

    DeviceRecord record;
    record.path = roots.dev + "/" + *devName;
    record.vendorId = id->vendorId;
    record.productId = id->productId;
    record.readWrite = ::faccessat(AT_FDCWD, record.path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;

    if (id->bus == BUS_USB) {
        const std::string usb = ancestor(dir, devicesRoot, "usb", "usb_device");
        if (!usb.empty()) {
            record.manufacturer = attribute(usb, "manufacturer");
            record.product = attribute(usb, "product");
            record.serial = attribute(usb, "serial");
            if (const auto bcd = attribute(usb, "bcdDevice"))
                record.releaseNumber = parseHex16(*bcd).value_or(0);
        }
    } else {
        record.product = ueventValue(hidUevent, "HID_NAME");
        record.serial = ueventValue(hidUevent, "HID_UNIQ");
    }
    if (const auto descriptor = readFile(hidParent + "/report_descriptor", kMaxDescriptor);
        descriptor && !descriptor->empty()) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(descriptor->data());
        record.caps = parseReportDescriptor({bytes, descriptor->size()});
    }
    return record;
}

} // namespace

std::vector<DeviceRecord> enumerateHidraw(const ScanRoots& roots) {
    std::vector<DeviceRecord> records;
    const std::string devicesRoot = canonical(roots.sys + "/devices");
    if (devicesRoot.empty())
        return records;
    for (const std::string& dir : hidrawDevices(roots.sys + "/class/hidraw")) {
        if (auto record = describe(dir, devicesRoot, roots))
            records.push_back(std::move(*record));
    }
    return records;
}

} // namespace hid
