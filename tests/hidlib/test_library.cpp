// SPDX-License-Identifier: GPL-3.0-or-later
// The device table, open and close, and the report functions of the core over a fake backend.
#include "FakeBackend.h"
#include "hidlib/core/Library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

using hidtest::Bytes;
using hidtest::FakeBackend;

namespace {

std::string path(int i) {
    return "/dev/hidraw" + std::to_string(i);
}

std::string text(const THIDstring& s) {
    return std::string(hid::stringView(s));
}

class LibraryTest : public ::testing::Test {
protected:
    // n unit-like devices at /dev/hidraw0.. in that order.
    void devices(int n) {
        std::vector<hid::DeviceRecord> list;
        for (int i = 0; i < n; ++i) {
            list.push_back(hidtest::unitRecord(path(i)));
            list.back().serial = "S" + std::to_string(i);
        }
        backend.setDevices(list);
    }

    FakeBackend backend;
    std::unique_ptr<hid::Library> lib = std::make_unique<hid::Library>(backend);
};

TEST_F(LibraryTest, ScanListsAtMost32AndSlot31IsNotHandedOut) {
    devices(33);
    EXPECT_EQ(lib->scan(), 32);
    THIDdeviceInfo info;
    lib->deviceInfo(30, &info);
    EXPECT_EQ(text(info.serial), "S30");
    EXPECT_EQ(info.handle, -1);
    for (const uint8_t index : {31, 32, 255}) {
        THIDdeviceInfo untouched;
        std::memset(&untouched, 0xA5, sizeof untouched);
        lib->deviceInfo(index, &untouched);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&untouched);
        EXPECT_TRUE(
            std::all_of(bytes, bytes + sizeof untouched, [](uint8_t b) { return b == 0xA5; }))
            << "index " << int(index);
    }
    // Slot 31 is in the table all the same: it can be opened.
    EXPECT_TRUE(lib->open(31));
}

TEST_F(LibraryTest, ScanSkipsUnlistedDevicesAndKeepsOrder) {
    auto a = hidtest::unitRecord(path(0));
    auto noVendor = hidtest::unitRecord(path(1));
    noVendor.vendorId = 0;
    auto b = hidtest::unitRecord(path(2));
    b.manufacturer.reset();
    b.serial.reset();
    b.caps.reset();
    backend.setDevices({a, noVendor, b});
    ASSERT_EQ(lib->scan(), 2);
    THIDdeviceInfo info;
    lib->deviceInfo(1, &info);
    EXPECT_EQ(std::string(info.path.text), path(2));
    EXPECT_EQ(text(info.manufacturer), "");
    EXPECT_EQ(text(info.serial), "---");
    EXPECT_EQ(info.inputReportLength, 0);
    EXPECT_EQ(info.releaseNumber, 0x0102);
}

TEST_F(LibraryTest, RescanResetsSlotsBeyondTheNewCount) {
    devices(5);
    ASSERT_EQ(lib->scan(), 5);
    devices(2);
    ASSERT_EQ(lib->scan(), 2);
    THIDdeviceInfo info;
    lib->deviceInfo(3, &info);
    EXPECT_EQ(info.path.length, 0);
    EXPECT_EQ(info.vendorId, 0);
    EXPECT_EQ(info.handle, -1);
    EXPECT_EQ(info.readWrite, 1) << "a reset slot keeps its readWrite byte";
    EXPECT_FALSE(lib->open(3));
}

TEST_F(LibraryTest, OpenAndCloseFollowTheirRules) {
    devices(2);
    ASSERT_EQ(lib->scan(), 2);
    EXPECT_FALSE(lib->close()) << "nothing open";

    EXPECT_TRUE(lib->open(1));
    EXPECT_TRUE(lib->open(1)) << "opening twice keeps the handle";
    EXPECT_EQ(backend.opens, 1);
    THIDdeviceInfo info;
    lib->deviceInfo(1, &info);
    EXPECT_GE(info.handle, 0);

    EXPECT_TRUE(lib->close());
    EXPECT_FALSE(lib->close()) << "second close";
    EXPECT_EQ(backend.openHandles(), 0u);
    lib->deviceInfo(1, &info);
    EXPECT_EQ(info.handle, -1);
}

// Only the device the caller picks is opened; listing, also while one is open, opens nothing.
TEST_F(LibraryTest, ScanOpensNoDevice) {
    devices(3);
    ASSERT_EQ(lib->scan(), 3);
    EXPECT_EQ(backend.opens, 0);
    ASSERT_TRUE(lib->open(2));
    ASSERT_EQ(lib->scan(), 3);
    EXPECT_EQ(backend.opens, 1);
    EXPECT_EQ(backend.enumerations, 2);
}

TEST_F(LibraryTest, OpenBeyondTheCountFailsAndLeavesNothingOpen) {
    devices(2);
    ASSERT_EQ(lib->scan(), 2);
    ASSERT_TRUE(lib->open(0));
    for (const uint8_t index : {2, 31, 32, 255}) {
        EXPECT_FALSE(lib->open(index)) << int(index);
        EXPECT_EQ(lib->inputReportSize(), 0);
        EXPECT_FALSE(lib->close());
    }
}

TEST_F(LibraryTest, FailedOpenLeavesNothingOpen) {
    devices(1);
    backend.refuseOpen(path(0));
    ASSERT_EQ(lib->scan(), 1);
    EXPECT_FALSE(lib->open(0));
    THIDdeviceInfo info;
    lib->deviceInfo(0, &info);
    EXPECT_EQ(info.handle, -1);
    EXPECT_FALSE(lib->close());
}

// A failed open leaves nothing open, so it must not leave the device that was open holding its
// handle either: no call could close that one until the next scan.
TEST_F(LibraryTest, AFailedOpenClosesTheDeviceThatWasOpen) {
    devices(2);
    backend.refuseOpen(path(1));
    ASSERT_EQ(lib->scan(), 2);
    for (const uint8_t failing : {1, 2, 255}) { // refused, beyond the count
        SCOPED_TRACE(int(failing));
        ASSERT_TRUE(lib->open(0));
        ASSERT_EQ(backend.openHandles(), 1u);
        EXPECT_FALSE(lib->open(failing));
        EXPECT_EQ(backend.openHandles(), 0u) << "the earlier slot's handle is closed";
        THIDdeviceInfo info;
        lib->deviceInfo(0, &info);
        EXPECT_EQ(info.handle, -1);
        EXPECT_FALSE(lib->close()) << "nothing is open";
    }
    EXPECT_EQ(backend.violations, 0);
}

// Once the open device has hung up, it answers like no open device, and opening its slot again
// does not hand back the dead handle.
TEST_F(LibraryTest, AfterAHangUpEveryCallAnswersZeroOrFalse) {
    devices(1);
    ASSERT_EQ(lib->scan(), 1);
    ASSERT_TRUE(lib->open(0));
    ASSERT_EQ(lib->outputReportSize(), 65);
    backend.unplug(path(0));
    THIDreport report{};
    EXPECT_EQ(lib->read(&report), 0) << "the read that notices the hang-up";

    EXPECT_EQ(lib->outputReportSize() + lib->inputReportSize() + lib->featureReportSize(), 0);
    EXPECT_EQ(lib->outputReportCount(1) + lib->inputReportCount(1) + lib->featureReportCount(1), 0);
    uint8_t buffer[65] = {1};
    EXPECT_EQ(lib->setOutputReport(buffer), 0);
    EXPECT_EQ(lib->getInputReport(buffer), 0);
    EXPECT_EQ(lib->write(report), 0);
    EXPECT_FALSE(lib->open(0)) << "not the dead handle again";
    EXPECT_EQ(backend.openHandles(), 0u);
    EXPECT_FALSE(lib->close());
    EXPECT_EQ(lib->inputReportSize(), 0);
    EXPECT_EQ(backend.violations, 0);
}

// A report still waiting on the open device when it is closed from another thread (the program
// quitting, a rescan) is given up on at once: the backend is told before the handle goes.
TEST_F(LibraryTest, ClosingTheOpenDeviceAbandonsItsWaitingReports) {
    struct Case {
        const char* name;
        std::function<void(hid::Library&)> leave;
    };
    const std::vector<Case> cases = {
        {"close", [](hid::Library& l) { EXPECT_TRUE(l.close()); }},
        {"scan", [](hid::Library& l) { EXPECT_EQ(l.scan(), 2); }},
        {"a failed open of another slot", [](hid::Library& l) { EXPECT_FALSE(l.open(7)); }},
    };
    devices(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(lib->scan(), 2);
        const size_t before = backend.abandoned().size();
        ASSERT_TRUE(lib->open(0));
        ASSERT_TRUE(lib->open(0)) << "opening the open slot again keeps it";
        ASSERT_TRUE(lib->open(1)) << "the slot left keeps its handle in the table";
        ASSERT_TRUE(lib->open(1));
        EXPECT_EQ(backend.abandoned().size(), before) << "nothing was closed";
        THIDdeviceInfo info;
        lib->deviceInfo(1, &info);
        c.leave(*lib);
        const auto abandoned = backend.abandoned();
        EXPECT_EQ(std::count(abandoned.begin() + before, abandoned.end(), info.handle), 1);
    }
    EXPECT_EQ(backend.violations, 0);
}

TEST_F(LibraryTest, ScanClosesWhatTheTableHeld) {
    devices(3);
    ASSERT_EQ(lib->scan(), 3);
    ASSERT_TRUE(lib->open(0));
    ASSERT_TRUE(lib->open(2)); // slot 0 keeps its handle while slot 2 is the open one
    EXPECT_EQ(backend.openHandles(), 2u);
    EXPECT_EQ(lib->scan(), 3);
    EXPECT_EQ(backend.openHandles(), 0u) << "handles are closed, not forgotten";
    EXPECT_FALSE(lib->close()) << "the open device went with them";
    EXPECT_EQ(backend.violations, 0);
}

TEST_F(LibraryTest, NothingOpenMeansZeroEverywhere) {
    devices(1);
    lib->scan();
    uint8_t buffer[65] = {1};
    THIDreport report{};
    EXPECT_EQ(lib->outputReportSize() + lib->inputReportSize() + lib->featureReportSize(), 0);
    EXPECT_EQ(lib->outputReportCount(1) + lib->inputReportCount(1) + lib->featureReportCount(1), 0);
    EXPECT_EQ(lib->setOutputReport(buffer), 0);
    EXPECT_EQ(lib->getInputReport(buffer), 0);
    EXPECT_EQ(lib->setFeatureReport(buffer), 0);
    EXPECT_EQ(lib->getFeatureReport(buffer), 0);
    EXPECT_EQ(lib->write(report), 0);
    EXPECT_EQ(lib->read(&report), 0);
    EXPECT_TRUE(backend.transfers().empty());
}

TEST_F(LibraryTest, SizesAndCountsOfTheOpenDevice) {
    auto dev = hidtest::unitRecord(path(0));
    dev.caps->feature.byteLength = 9; // no value caps: counts fall back to length - 1
    backend.setDevices({dev});
    lib->scan();
    ASSERT_TRUE(lib->open(0));
    EXPECT_EQ(lib->outputReportSize(), 65);
    EXPECT_EQ(lib->inputReportSize(), 65);
    EXPECT_EQ(lib->featureReportSize(), 9);
    EXPECT_EQ(lib->outputReportCount(1), 64);
    EXPECT_EQ(lib->inputReportCount(1), 64);
    EXPECT_EQ(lib->featureReportCount(5), 8);
}

TEST_F(LibraryTest, QueryOnlyDeviceRefusesWrites) {
    auto dev = hidtest::unitRecord(path(0));
    dev.readWrite = false;
    backend.setDevices({dev});
    lib->scan();
    ASSERT_TRUE(lib->open(0));
    THIDreport report{};
    report.reportId = 1;
    EXPECT_EQ(lib->write(report), 0);
    EXPECT_TRUE(backend.transfers().empty()) << "the device is not touched";
}

TEST_F(LibraryTest, WriteSendsTheOutputReportLength) {
    backend.setDevices({hidtest::unitRecord(path(0)), hidtest::unnumberedRecord(path(1))});
    lib->scan();
    ASSERT_TRUE(lib->open(0));
    THIDreport report{};
    report.reportId = 1;
    report.data[0] = 0x42;
    report.data[63] = 0x99;
    EXPECT_EQ(lib->write(report), 64);
    ASSERT_TRUE(lib->close());

    // A device without numbered reports gets the 0 in front: hidraw drops it itself.
    ASSERT_TRUE(lib->open(1));
    report.reportId = 0;
    EXPECT_EQ(lib->write(report), 8);
    const auto t = backend.transfers();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].op, "write");
    EXPECT_EQ(t[0].bytes.size(), 65u);
    EXPECT_EQ(t[0].bytes[1], 0x42);
    EXPECT_EQ(t[0].bytes[64], 0x99);
    EXPECT_EQ(t[1].bytes.size(), 9u);
    EXPECT_EQ(t[1].bytes[0], 0);
    EXPECT_EQ(t[1].bytes[1], 0x42);
}

TEST_F(LibraryTest, ReadPutsReportIdZeroInFrontForUnnumberedDevices) {
    backend.setDevices({hidtest::unitRecord(path(0)), hidtest::unnumberedRecord(path(1))});
    lib->scan();
    THIDreport report;

    ASSERT_TRUE(lib->open(1));
    backend.push(path(1), {0x11, 0x22, 0x33, 0, 0, 0, 0, 0x88});
    std::memset(&report, 0xEE, sizeof report);
    EXPECT_EQ(lib->read(&report), 8);
    EXPECT_EQ(report.reportId, 0);
    EXPECT_EQ(report.data[0], 0x11);
    EXPECT_EQ(report.data[7], 0x88);
    EXPECT_EQ(report.data[8], 0) << "the rest is cleared";
    EXPECT_EQ(lib->read(&report), 0) << "nothing waiting";
    ASSERT_TRUE(lib->close());

    ASSERT_TRUE(lib->open(0));
    Bytes numbered(65, 0);
    numbered[0] = 1;
    numbered[1] = 0x11;
    backend.push(path(0), numbered);
    EXPECT_EQ(lib->read(&report), 64);
    EXPECT_EQ(report.reportId, 1);
    EXPECT_EQ(report.data[0], 0x11);
}

TEST_F(LibraryTest, ReportFunctionsTransferTheTypesLength) {
    auto dev = hidtest::unitRecord(path(0));
    dev.caps->feature.byteLength = 17;
    // Report 3 counts 8 elements, which differs from the "length minus one" of unknown IDs.
    dev.caps->feature.valueCaps.push_back({0xFF00, 2, 2, false, 3, 8, 8});
    backend.setDevices({dev});
    lib->scan();
    ASSERT_TRUE(lib->open(0));

    uint8_t out[65] = {1, 0xAB};
    EXPECT_EQ(lib->setOutputReport(out), 64);
    uint8_t feature[17] = {3, 0xCD};
    EXPECT_EQ(lib->setFeatureReport(feature), 8);
    backend.setGetReply({3, 0x77});
    uint8_t got[17] = {3};
    EXPECT_EQ(lib->getFeatureReport(got), 8);
    EXPECT_EQ(got[1], 0x77);
    // The count belongs to the requested report even when the reply does not echo its ID.
    backend.setGetReply({0, 0x78});
    uint8_t zeroed[17] = {3};
    EXPECT_EQ(lib->getFeatureReport(zeroed), 8);

    const auto t = backend.transfers();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].op, "setOutput");
    EXPECT_EQ(t[0].bytes.size(), 65u);
    EXPECT_EQ(t[1].op, "setFeature");
    EXPECT_EQ(t[1].bytes.size(), 17u);
    EXPECT_EQ(t[1].bytes[1], 0xCD);
    EXPECT_EQ(t[2].op, "getFeature");
}

// Whatever report lengths a device declares, the report functions and HIDwriteDevice read and
// write no more than the caller's 65 bytes (the buffers are on the heap, exactly 65 bytes, for
// AddressSanitizer to watch), and the device gets a report of its own length: a shorter one is
// the record's start, a longer one the record followed by zeros.
TEST_F(LibraryTest, DeclaredReportLengthsNeverReachPastTheCallersRecord) {
    constexpr size_t kRecord = sizeof(THIDreport);
    auto pattern = [](size_t i, uint8_t seed) { return static_cast<uint8_t>(seed + i * 7); };
    for (const size_t length : {0u, 9u, 64u, 65u, 66u, 300u, 65535u}) {
        SCOPED_TRACE("declared length " + std::to_string(length));
        auto dev = hidtest::unitRecord(path(0));
        dev.caps->input.byteLength = static_cast<uint16_t>(length);
        dev.caps->output.byteLength = static_cast<uint16_t>(length);
        dev.caps->feature.byteLength = static_cast<uint16_t>(length);
        backend.setDevices({dev});
        ASSERT_EQ(lib->scan(), 1);
        ASSERT_TRUE(lib->open(0));
        const size_t before = backend.transfers().size();
        const bool reports = length != 0;
        const size_t kept = std::min(length, kRecord);

        const auto record = std::make_unique<uint8_t[]>(kRecord);
        for (size_t i = 0; i < kRecord; ++i)
            record[i] = pattern(i, 1);
        EXPECT_EQ(lib->setOutputReport(record.get()) != 0, reports);
        EXPECT_EQ(lib->setFeatureReport(record.get()) != 0, reports);
        THIDreport written;
        std::memcpy(&written, record.get(), kRecord);
        EXPECT_EQ(lib->write(written) != 0, reports);

        Bytes reply(length + 1);
        for (size_t i = 0; i < reply.size(); ++i)
            reply[i] = pattern(i, 0x50);
        backend.setGetReply(reply);
        for (const bool feature : {false, true}) {
            const auto got = std::make_unique<uint8_t[]>(kRecord);
            std::memset(got.get(), 0xEE, kRecord);
            got[0] = 1;
            const uint8_t count =
                feature ? lib->getFeatureReport(got.get()) : lib->getInputReport(got.get());
            EXPECT_EQ(count != 0, reports) << feature;
            for (size_t i = reports ? 0 : 1; i < kRecord; ++i)
                ASSERT_EQ(got[i], i < kept ? reply[i] : 0xEE) << feature << " byte " << i;
        }

        Bytes input(length + 1, 0x33);
        input[0] = 1;
        backend.push(path(0), input);
        THIDreport read;
        lib->read(&read); // a longer input report is cut to the record
        EXPECT_EQ(read.data[63], input.size() >= kRecord ? 0x33 : 0);

        const auto t = backend.transfers();
        ASSERT_EQ(t.size() - before, reports ? 5u : 0u);
        for (size_t k = before; k < t.size(); ++k) {
            SCOPED_TRACE(t[k].op);
            ASSERT_EQ(t[k].bytes.size(), length);
            if (t[k].op.rfind("get", 0) == 0)
                continue;
            for (size_t i = 0; i < length; ++i)
                ASSERT_EQ(t[k].bytes[i], i < kRecord ? pattern(i, 1) : 0) << "byte " << i;
        }
        ASSERT_TRUE(lib->close());
    }
    EXPECT_EQ(backend.violations, 0);
}

TEST_F(LibraryTest, ATypeWithoutReportsTransfersNothing) {
    devices(1); // no feature reports
    lib->scan();
    ASSERT_TRUE(lib->open(0));
    uint8_t feature[8] = {1};
    EXPECT_EQ(lib->setFeatureReport(feature), 0);
    EXPECT_EQ(lib->featureReportCount(1), 0);
    EXPECT_TRUE(backend.transfers().empty());
}

TEST_F(LibraryTest, UnpluggedDeviceGivesZerosNotCrashes) {
    devices(1);
    lib->scan();
    ASSERT_TRUE(lib->open(0));
    Bytes report(65, 0);
    report[0] = 1;
    backend.push(path(0), report);
    backend.unplug(path(0));
    THIDreport got;
    EXPECT_EQ(lib->read(&got), 64) << "what was queued is still read";
    EXPECT_EQ(lib->read(&got), 0);
    EXPECT_EQ(lib->write(got), 0);
    uint8_t out[65] = {1};
    EXPECT_EQ(lib->setOutputReport(out), 0);
    EXPECT_TRUE(lib->close());
    EXPECT_EQ(backend.violations, 0);
}

TEST_F(LibraryTest, DestroyingTheLibraryClosesEveryHandle) {
    devices(2);
    lib->scan();
    ASSERT_TRUE(lib->open(0));
    ASSERT_TRUE(lib->open(1));
    lib.reset();
    EXPECT_EQ(backend.openHandles(), 0u);
    EXPECT_EQ(backend.violations, 0);
}

} // namespace
