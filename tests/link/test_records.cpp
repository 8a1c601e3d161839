// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/DeviceRecords.h"

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(DeviceRecords, FactoryDefaults) {
    const DeviceSettings d = factoryDefaults();
    const auto raw = rawBytes(d);
    const std::array<uint8_t, 18> expected = {0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x10, 0x11,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00};
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), expected.begin()));
    EXPECT_EQ(sourceName(d.source[6]), "ANALOG L");
    EXPECT_EQ(sourceName(d.source[7]), "ANALOG R");
    EXPECT_EQ(d.peakHold, 1);
    EXPECT_EQ(d.brightness, 3);
}

TEST(DeviceRecords, SourceSlotsAndNames) {
    EXPECT_EQ(sourceSlot(0, 0), 1);
    EXPECT_EQ(sourceSlot(0, 1), 2);
    EXPECT_EQ(sourceSlot(2, 0), 5);
    EXPECT_EQ(sourceSlot(2, 1), 6);
    EXPECT_EQ(sourceSlot(3, 0), 7);
    EXPECT_EQ(sourceSlot(3, 1), 8);

    EXPECT_EQ(sourceName(0), "SDI #1");
    EXPECT_EQ(sourceName(15), "SDI #16");
    EXPECT_EQ(sourceName(16), "ANALOG L");
    EXPECT_EQ(sourceName(17), "ANALOG R");
    EXPECT_EQ(sourceName(18), "");
    EXPECT_EQ(sourceName(-1), "");
}

TEST(DeviceRecords, SignedGainsAndRawView) {
    DeviceSettings s;
    rawBytes(s)[12] = 0xE0;
    rawBytes(s)[13] = 0x10;
    EXPECT_EQ(s.gainLeft, -32);
    EXPECT_EQ(s.gainRight, 16);

    std::array<uint8_t, 20> status{};
    status[0] = 0xDD; // -35
    status[1] = 13;
    const DeviceStatus st = statusFromBytes(status);
    EXPECT_EQ(st.levelLeft, -35);
    EXPECT_EQ(st.levelRight, 13);
}

} // namespace
} // namespace qx
