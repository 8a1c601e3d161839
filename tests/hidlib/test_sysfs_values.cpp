// SPDX-License-Identifier: GPL-3.0-or-later
// The udev and sysfs values the Linux backend reads.
#include "hidlib/linux/SysfsValues.h"

#include <gtest/gtest.h>

TEST(SysfsValues, HidId) {
    const auto id = hid::parseHidId("0003:00001209:00000001");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->bus, 3);
    EXPECT_EQ(id->vendorId, 0x1209);
    EXPECT_EQ(id->productId, 0x0001);
    const auto bt = hid::parseHidId("0005:0000046D:0000B01A");
    ASSERT_TRUE(bt);
    EXPECT_EQ(bt->productId, 0xB01A);
    for (const char* bad :
         {"", "0003", "0003:1209", "0003::0001", "0003:00001209:", "0003:00011209:00000001",
          "0003:0000120G:00000001", "000000003:00001209:00000001", "0003:00001209:00000001:5"}) {
        EXPECT_FALSE(hid::parseHidId(bad)) << bad;
    }
}

TEST(SysfsValues, Hex16) {
    EXPECT_EQ(hid::parseHex16("0102"), 0x0102);
    EXPECT_EQ(hid::parseHex16("010a\n"), 0x010A);
    EXPECT_EQ(hid::parseHex16("ffff"), 0xFFFF);
    for (const char* bad : {"", "\n", "10000", "01x2", "-1"})
        EXPECT_FALSE(hid::parseHex16(bad)) << bad;
}
