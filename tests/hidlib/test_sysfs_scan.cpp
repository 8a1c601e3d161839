// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux scan over a small sysfs tree of its own: what each record takes from where, the
// order, and that no device node is opened on the way.
#include "hidlib/linux/LinuxBackend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// Report ID 1, 64-byte input and output reports, as the unit has.
const Bytes kNumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01,
                         0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40,
                         0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0};
// No report ID, 8-byte input report.
const Bytes kUnnumbered = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
                           0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02, 0xC0};

// One hidraw device as the kernel lays it out: USB device, interface, HID device, hidraw node.
struct FakeDevice {
    std::string usbDir = "1-1"; // under usb1
    std::string hidraw = "hidraw0";
    std::string hidId = "0003:00001209:00000001";
    std::string hidName = "ORB-MX QX-77ZT";
    std::string hidUniq;
    // USB device attributes; an empty value leaves the attribute out.
    std::string manufacturer = "ORB-MX";
    std::string product = "QX-77ZT";
    std::string serial = "A1";
    std::string bcdDevice = "0102";
    Bytes descriptor = kNumbered;
    bool nodePresent = true;
};

class SysfsScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qx-sysfs-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "sys/class/hidraw");
        fs::create_directories(root_ / "sys/devices/pci0000:00/usb1");
        fs::create_directories(root_ / "dev");
        roots_ = {(root_ / "sys").string(), (root_ / "dev").string()};
    }
    void TearDown() override { fs::remove_all(root_); }

    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    static void subsystem(const fs::path& dir, const std::string& name) {
        fs::create_directory_symlink("../../../bus/" + name, dir / "subsystem");
    }

    void add(const FakeDevice& d) {
        const fs::path usb = root_ / "sys/devices/pci0000:00/usb1" / d.usbDir;
        const fs::path interface = usb / (d.usbDir + ":1.0");
        const fs::path hidDev = interface / ("0003:1209:0001." + d.hidraw.substr(6));
        const fs::path node = hidDev / "hidraw" / d.hidraw;
        fs::create_directories(node);
        subsystem(usb, "usb");
        write(usb / "uevent", "DEVTYPE=usb_device\nDEVNAME=bus/usb/001/002\n");
        for (const auto& [name, value] : {std::pair{"manufacturer", d.manufacturer},
                                          {"product", d.product},
                                          {"serial", d.serial},
                                          {"bcdDevice", d.bcdDevice}}) {
            if (!value.empty())
                write(usb / name, value + "\n");
        }
        subsystem(interface, "usb");
        write(interface / "uevent", "DEVTYPE=usb_interface\n");
        subsystem(hidDev, "hid");
        write(hidDev / "uevent", "DRIVER=hid-generic\nHID_ID=" + d.hidId +
                                     "\nHID_NAME=" + d.hidName + "\nHID_UNIQ=" + d.hidUniq +
                                     "\nMODALIAS=hid:b0003\n");
        write(hidDev / "report_descriptor", std::string(d.descriptor.begin(), d.descriptor.end()));
        subsystem(node, "hidraw");
        write(node / "uevent", "MAJOR=240\nMINOR=0\nDEVNAME=" + d.hidraw + "\n");
        fs::create_directory_symlink(fs::relative(node, root_ / "sys/class/hidraw"),
                                     root_ / "sys/class/hidraw" / d.hidraw);
        if (d.nodePresent) {
            write(root_ / "dev" / d.hidraw, "");
            fs::permissions(root_ / "dev" / d.hidraw,
                            fs::perms::owner_read | fs::perms::owner_write);
        }
    }

    std::vector<hid::DeviceRecord> scan() const { return hid::enumerateHidraw(roots_); }

    fs::path root_;
    hid::ScanRoots roots_;
};

TEST_F(SysfsScanTest, UsbDeviceTakesItsStringsAndReleaseFromTheUsbParent) {
    add({});
    const auto records = scan();
    ASSERT_EQ(records.size(), 1u);
    const hid::DeviceRecord& r = records[0];
    EXPECT_EQ(r.path, roots_.dev + "/hidraw0");
    EXPECT_EQ(r.vendorId, 0x1209);
    EXPECT_EQ(r.productId, 0x0001);
    EXPECT_EQ(r.releaseNumber, 0x0102);
    EXPECT_EQ(r.manufacturer, "ORB-MX");
    EXPECT_EQ(r.product, "QX-77ZT");
    EXPECT_EQ(r.serial, "A1");
    EXPECT_TRUE(r.readWrite);
    ASSERT_TRUE(r.caps);
    EXPECT_TRUE(r.caps->numberedReports);
    EXPECT_EQ(r.caps->input.byteLength, 65);
    EXPECT_EQ(r.caps->output.byteLength, 65);
}

TEST_F(SysfsScanTest, EachSourceOfARecordField) {
    struct Case {
        const char* what;
        FakeDevice device;
        bool listed;
        std::optional<std::string> manufacturer, product, serial;
        uint16_t release;
        bool readWrite, hasCaps;
    };
    FakeDevice bluetooth;
    bluetooth.hidId = "0005:0000046D:0000B33F";
    bluetooth.hidName = "BT Keyboard";
    bluetooth.hidUniq = "aa:bb:cc";
    FakeDevice noSerial;
    noSerial.serial.clear();
    FakeDevice noNode;
    noNode.nodePresent = false;
    FakeDevice badId;
    badId.hidId = "0003:1209";
    FakeDevice noDescriptor;
    noDescriptor.descriptor.clear();
    FakeDevice unnumbered;
    unnumbered.descriptor = kUnnumbered;
    FakeDevice oddRelease;
    oddRelease.bcdDevice = "zz";
    const std::vector<Case> cases = {
        {"other bus: name and unique id", bluetooth, true, std::nullopt, "BT Keyboard", "aa:bb:cc",
         0, true, true},
        {"no serial attribute", noSerial, true, "ORB-MX", "QX-77ZT", std::nullopt, 0x0102, true,
         true},
        {"node missing: listed, not read-write", noNode, true, "ORB-MX", "QX-77ZT", "A1", 0x0102,
         false, true},
        {"malformed HID_ID: not listed", badId, false, {}, {}, {}, 0, false, false},
        {"empty descriptor: no caps", noDescriptor, true, "ORB-MX", "QX-77ZT", "A1", 0x0102, true,
         false},
        {"unnumbered reports", unnumbered, true, "ORB-MX", "QX-77ZT", "A1", 0x0102, true, true},
        {"malformed bcdDevice", oddRelease, true, "ORB-MX", "QX-77ZT", "A1", 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        add(c.device);
        const auto records = scan();
        ASSERT_EQ(records.size(), c.listed ? 1u : 0u);
        if (!c.listed)
            continue;
        const hid::DeviceRecord& r = records[0];
        EXPECT_EQ(r.manufacturer, c.manufacturer);
        EXPECT_EQ(r.product, c.product);
        EXPECT_EQ(r.serial, c.serial);
        EXPECT_EQ(r.releaseNumber, c.release);
        EXPECT_EQ(r.readWrite, c.readWrite);
        EXPECT_EQ(r.caps.has_value(), c.hasCaps);
        if (r.caps) {
            EXPECT_EQ(r.caps->numberedReports, c.device.descriptor == kNumbered);
        }
    }
}

TEST_F(SysfsScanTest, DevicesComeInDevicePathOrderNotNodeNumberOrder) {
    FakeDevice later;
    later.usbDir = "1-2";
    later.hidraw = "hidraw0";
    later.serial = "second";
    FakeDevice earlier;
    earlier.usbDir = "1-1";
    earlier.hidraw = "hidraw1";
    earlier.serial = "first";
    add(later);
    add(earlier);
    const auto records = scan();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].serial, "first");
    EXPECT_EQ(records[0].path, roots_.dev + "/hidraw1");
    EXPECT_EQ(records[1].serial, "second");
}

// Opening a hidraw node starts the device's interrupt polling: the scan must not, not even to
// learn whether it could.
TEST_F(SysfsScanTest, ScanOpensNoDeviceNode) {
    FakeDevice first;
    FakeDevice second;
    second.usbDir = "1-2";
    second.hidraw = "hidraw1";
    add(first);
    add(second);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, roots_.dev.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY), 0);

    const auto records = scan();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].readWrite && records[1].readWrite);

    alignas(inotify_event) char events[4096];
    const ssize_t n = ::read(watch, events, sizeof events);
    const int error = errno;
    ::close(watch);
    EXPECT_EQ(n, -1) << "the scan touched a node in " << roots_.dev;
    EXPECT_EQ(error, EAGAIN);

    // The watch does see an open: the check above can fail.
    const int again = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(again, roots_.dev.c_str(), IN_OPEN), 0);
    std::ifstream(root_ / "dev/hidraw0").close();
    EXPECT_GT(::read(again, events, sizeof events), 0);
    ::close(again);
}

TEST_F(SysfsScanTest, NoSysfsGivesNoDevices) {
    fs::remove_all(root_ / "sys");
    EXPECT_TRUE(scan().empty());
}

} // namespace
