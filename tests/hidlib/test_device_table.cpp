// SPDX-License-Identifier: GPL-3.0-or-later
// Slot building, capability tables and the element count rule.
#include "hidlib/core/DeviceTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using hid::DeviceRecord;
using hid::ReportTypeCaps;
using hid::ValueCap;

namespace {

ValueCap cap(uint8_t reportId, uint16_t count, uint16_t usage = 1, uint16_t bitSize = 8) {
    return ValueCap{0xFF00, usage, usage, false, reportId, bitSize, count};
}

ReportTypeCaps typeCaps(uint16_t length, std::vector<ValueCap> caps) {
    ReportTypeCaps t;
    t.byteLength = length;
    t.valueCaps = std::move(caps);
    return t;
}

std::string text(const THIDstring& s) {
    return std::string(hid::stringView(s));
}

} // namespace

TEST(DeviceTable, SlotStringsFollowTheirRules) {
    DeviceRecord r;
    r.path = "/dev/hidraw3";
    r.vendorId = 0x1209;
    r.productId = 0x0001;
    r.product = "QX-77ZT";
    const THIDdeviceInfo slot = hid::makeSlot(r);
    // The path carries one NUL, counted in its length.
    EXPECT_EQ(slot.path.length, 13);
    EXPECT_EQ(std::string(slot.path.text, 13), std::string("/dev/hidraw3\0", 13));
    EXPECT_EQ(text(slot.manufacturer), "");
    EXPECT_EQ(text(slot.product), "QX-77ZT");
    EXPECT_EQ(text(slot.serial), "---");
    EXPECT_EQ(slot.handle, -1);
    EXPECT_EQ(slot.readWrite, 0);
    EXPECT_TRUE(hid::isListed(slot));

    r.serial = "";
    EXPECT_EQ(text(hid::makeSlot(r).serial), "") << "an empty serial is still a serial";
}

TEST(DeviceTable, LongStringsAreCutAt255WithoutSplittingACharacter) {
    THIDstring s;
    hid::setString(s, std::string(300, 'a'));
    EXPECT_EQ(s.length, 255);
    // 254 ASCII bytes then a two-byte character that would straddle the cut.
    hid::setString(s, std::string(254, 'a') + "\xC3\xA9" + "tail");
    EXPECT_EQ(s.length, 254);
    // A 254-character path plus its NUL fits exactly; a longer one loses the NUL.
    DeviceRecord r;
    r.path = std::string(254, 'p');
    EXPECT_EQ(hid::makeSlot(r).path.length, 255);
    EXPECT_EQ(hid::makeSlot(r).path.text[254], '\0');
    r.path = std::string(260, 'p');
    EXPECT_EQ(hid::makeSlot(r).path.text[254], 'p');
}

TEST(DeviceTable, UnlistedWithoutBothIdentifiers) {
    DeviceRecord r;
    r.vendorId = 0x1209;
    EXPECT_FALSE(hid::isListed(hid::makeSlot(r)));
    r.vendorId = 0;
    r.productId = 1;
    EXPECT_FALSE(hid::isListed(hid::makeSlot(r)));
}

TEST(DeviceTable, ResetSlotKeepsOnlyReadWrite) {
    DeviceRecord r = {};
    r.path = "/dev/hidraw0";
    r.vendorId = r.productId = 1;
    r.readWrite = true;
    THIDdeviceInfo slot = hid::makeSlot(r);
    slot.handle = 7;
    hid::resetSlot(slot);
    THIDdeviceInfo expected;
    std::memset(&expected, 0, sizeof expected);
    expected.handle = -1;
    expected.readWrite = 1;
    EXPECT_EQ(std::memcmp(&slot, &expected, sizeof slot), 0);
}

TEST(DeviceTable, CapabilityTables) {
    struct Case {
        const char* name;
        ReportTypeCaps caps;
        // (reportId, reportCount) of entries 0..2
        std::vector<std::pair<uint8_t, uint8_t>> expected;
    };
    std::vector<ValueCap> twelve;
    for (uint8_t i = 1; i <= 12; ++i)
        twelve.push_back(cap(i, i));
    const Case cases[] = {
        {"no caps: entry 0 preset to length-1", typeCaps(65, {}), {{0, 64}, {0, 0}, {0, 0}}},
        {"no reports at all", typeCaps(0, {}), {{0, 0}, {0, 0}}},
        {"one cap of count 1 counts the data bytes", typeCaps(65, {cap(1, 1)}), {{1, 64}, {0, 0}}},
        {"one cap of another count is kept", typeCaps(65, {cap(1, 64)}), {{1, 64}, {0, 0}}},
        {"count 1 with two caps stays 1", typeCaps(65, {cap(1, 1), cap(2, 1)}), {{1, 1}, {2, 1}}},
        {"one cap of count 1 in an empty type", typeCaps(0, {cap(0, 1)}), {{0, 0}}},
        {"low bytes only", typeCaps(300, {cap(3, 0x1FF), cap(4, 2)}), {{3, 0xFF}, {4, 2}}},
        {"more than ten: first ten", typeCaps(65, twelve), {{1, 1}, {2, 2}, {3, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        THIDvalueCap table[10];
        hid::fillCapTable(table, c.caps);
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(table[i].reportId, c.expected[i].first) << "entry " << i;
            EXPECT_EQ(table[i].reportCount, c.expected[i].second) << "entry " << i;
        }
        EXPECT_EQ(table[0].bitSize, 8);
    }
    THIDvalueCap table[10];
    hid::fillCapTable(table, typeCaps(65, twelve));
    EXPECT_EQ(table[9].reportId, 10);
    hid::fillCapTable(table, typeCaps(65, {cap(1, 64, 0x1234, 0x0110)}));
    EXPECT_EQ(table[0].usage, 0x1234);
    EXPECT_EQ(table[0].bitSize, 0x10);
}

TEST(DeviceTable, ElementCountRule) {
    struct Case {
        const char* name;
        ReportTypeCaps caps;
        uint8_t reportId;
        uint8_t expected;
    };
    const Case cases[] = {
        {"one cap, ID 1, count 64", typeCaps(65, {cap(1, 64)}), 1, 64},
        {"no caps, length 65, any ID", typeCaps(65, {}), 7, 64},
        {"no caps, ID 0 via the preset entry", typeCaps(65, {}), 0, 64},
        {"single cap count 1, length 65", typeCaps(65, {cap(1, 1)}), 1, 64},
        {"caps of one ID add up", typeCaps(65, {cap(2, 10), cap(2, 20), cap(3, 5)}), 2, 30},
        {"unknown ID falls back to length-1", typeCaps(33, {cap(2, 10)}), 9, 32},
        {"sum wraps at 8 bits", typeCaps(65, {cap(1, 200), cap(1, 100)}), 1, 44},
        {"sum of exactly 256 falls back", typeCaps(65, {cap(1, 200), cap(1, 56)}), 1, 64},
        {"no reports of the type count 0", typeCaps(0, {}), 1, 0},
        {"length above 256 gives its low byte", typeCaps(258, {}), 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        THIDvalueCap table[10];
        hid::fillCapTable(table, c.caps);
        EXPECT_EQ(hid::elementCount(table, c.caps.byteLength, c.reportId), c.expected);
    }
}
