// SPDX-License-Identifier: GPL-3.0-or-later
// Hand-made descriptors for what the recorded devices do not show: malformed input, long items,
// Push/Pop, usage ranges, extended usages, several collections, huge counts, and the unit's own
// 64-byte reports.
#include "hidlib/descriptor/ReportDescriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace hid {
namespace {

using Bytes = std::vector<uint8_t>;

ValueCap cap(uint16_t page, uint16_t usage, uint8_t id, uint16_t bits, uint16_t count) {
    return ValueCap{page, usage, usage, false, id, bits, count};
}

ValueCap range(uint16_t page, uint16_t min, uint16_t max, uint8_t id, uint16_t bits) {
    return ValueCap{page, min, max, true, id, bits, 1};
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct Case {
    std::string name;
    Bytes descriptor;
    uint16_t inputLength, outputLength, featureLength;
    std::vector<ValueCap> inputCaps, outputCaps, featureCaps;
    bool numbered = false;
};

std::vector<Case> cases() {
    return {
        {"Empty", {}, 0, 0, 0, {}, {}, {}},
        // The unit: vendor page, Report ID 1, 64 data bytes each way.
        {"VendorUnit64ByteReports",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
          0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0},
         65,
         65,
         0,
         {cap(0xFF00, 0x01, 1, 8, 64)},
         {cap(0xFF00, 0x01, 1, 8, 64)},
         {},
         true},
        // Long items (with and without data) and a reserved-type short item are skipped.
        {"LongAndReservedItemsSkipped",
         {0x05, 0x01, 0xA1, 0x01, 0xFE, 0x03, 0x42, 0xAA, 0xBB, 0xCC, 0xFE, 0x00,
          0x10, 0x0D, 0x55, 0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02, 0xC0},
         2,
         0,
         0,
         {cap(0x01, 0x30, 0, 8, 1)},
         {},
         {}},
        // Pop restores page, size and Report ID as they were at the Push.
        {"PushPopRestoresGlobals",
         {0x05, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x85, 0x01, 0xA4, 0x75, 0x10, 0x85,
          0x02, 0x05, 0x09, 0x09, 0x05, 0x81, 0x02, 0xB4, 0x09, 0x30, 0x81, 0x02, 0xC0},
         3,
         0,
         0,
         {cap(0x09, 0x05, 2, 16, 1), cap(0x01, 0x30, 1, 8, 1)},
         {},
         {},
         true},
        // Nesting deeper than the saved stack: the Pops still pair with their Pushes.
        {"DeepPushNesting",
         concat({{0x05, 0x01, 0xA1, 0x01, 0x75, 0x10, 0x95, 0x01},
                 Bytes(100, 0xA4),
                 {0x75, 0x08},
                 Bytes(100, 0xB4),
                 {0x09, 0x30, 0x81, 0x02, 0xC0}}),
         3,
         0,
         0,
         {cap(0x01, 0x30, 0, 16, 1)},
         {},
         {}},
        {"StrayPopAndEndCollectionIgnored",
         {0xC0, 0xB4, 0x05, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02, 0xC0,
          0xC0},
         2,
         0,
         0,
         {cap(0x01, 0x30, 0, 8, 1)},
         {},
         {}},
        {"UsageRangeIsOneCap",
         {0x05, 0x09, 0xA1, 0x01, 0x19, 0x01, 0x29, 0x08, 0x75, 0x04, 0x95, 0x08, 0x81, 0x02, 0xC0},
         5,
         0,
         0,
         {range(0x09, 0x01, 0x08, 0, 4)},
         {},
         {}},
        // X, range 0x40-0x42, Y with five fields: listed last-declared first, Y takes the rest.
        {"RangeAmongSingleUsages",
         {0x05, 0x01, 0xA1, 0x01, 0x09, 0x30, 0x19, 0x40, 0x29, 0x42, 0x09, 0x31, 0x75, 0x08, 0x95,
          0x05, 0x81, 0x02, 0xC0},
         6,
         0,
         0,
         {cap(0x01, 0x31, 0, 8, 3), range(0x01, 0x40, 0x42, 0, 8), cap(0x01, 0x30, 0, 8, 1)},
         {},
         {}},
        // Usage Maximum first, Usage Minimum missing: a range of that one usage.
        {"HalfDeclaredRange",
         {0x05, 0x01, 0xA1, 0x01, 0x29, 0x35, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0},
         2,
         0,
         0,
         {range(0x01, 0x35, 0x35, 0, 8)},
         {},
         {}},
        // A four-byte Usage or Usage Minimum brings its own page, whatever Usage Page says.
        {"ExtendedUsagesCarryTheirPage",
         {0x05, 0x01, 0xA1, 0x01, 0x0B, 0x38, 0x02, 0x0C, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02,
          0x1B, 0x01, 0x00, 0x09, 0x00, 0x2B, 0x03, 0x00, 0x09, 0x00, 0x95, 0x03, 0x81, 0x02, 0xC0},
         5,
         0,
         0,
         {cap(0x0C, 0x238, 0, 8, 1), range(0x09, 0x01, 0x03, 0, 8)},
         {},
         {}},
        // The page is the one in effect when each usage is read, not at the main item.
        {"UsagePageTakenWhenUsageRead",
         {0x05, 0x01, 0xA1, 0x01, 0x09, 0x30, 0x05, 0x09, 0x09, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81,
          0x02, 0xC0},
         3,
         0,
         0,
         {cap(0x09, 0x01, 0, 8, 1), cap(0x01, 0x30, 0, 8, 1)},
         {},
         {}},
        // Surplus usages are dropped; with fewer usages than fields the last one takes the rest.
        {"UsagesVersusReportCount",
         {0x05, 0x01, 0xA1, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x75, 0x08, 0x95,
          0x02, 0x81, 0x02, 0x09, 0x33, 0x09, 0x34, 0x95, 0x05, 0x81, 0x02, 0xC0},
         8,
         0,
         0,
         {cap(0x01, 0x31, 0, 8, 1), cap(0x01, 0x30, 0, 8, 1), cap(0x01, 0x34, 0, 8, 4),
          cap(0x01, 0x33, 0, 8, 1)},
         {},
         {}},
        // Every item adds its bits; only the Const item with a real usage and the data item with
        // usage 0 are values (no usage, Const usage 0, Array, 1-bit and 0-count items are not).
        {"PaddingArraysAndButtons",
         {0x05, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x09, 0x00, 0x81, 0x03,
          0x09, 0x30, 0x81, 0x03, 0x09, 0x00, 0x81, 0x02, 0x09, 0x31, 0x81, 0x00, 0x75, 0x01,
          0x09, 0x32, 0x81, 0x02, 0x75, 0x08, 0x95, 0x00, 0x09, 0x33, 0x81, 0x02, 0xC0},
         7,
         0,
         0,
         {cap(0x01, 0x30, 0, 8, 1), cap(0x01, 0x00, 0, 8, 1)},
         {},
         {}},
        // Two top-level collections without Report IDs are measured apart: the longer wins, the
        // two are not added. A nested collection does not restart the count.
        {"TopLevelCollectionsMeasuredApart",
         {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x03, 0xA1, 0x00, 0x81,
          0x03, 0xC0, 0xC0, 0x09, 0x06, 0xA1, 0x01, 0x95, 0x02, 0x81, 0x03, 0xB1, 0x03, 0xC0},
         5,
         0,
         3,
         {},
         {},
         {}},
        // Sizes beyond 16 bits saturate rather than wrap.
        {"HugeSizeAndCountSaturate",
         {0x06, 0x00, 0xFF, 0xA1, 0x01, 0x75, 0x08, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x01,
          0x81, 0x02, 0x77, 0x00, 0x00, 0x01, 0x00, 0x95, 0x01, 0x09, 0x02, 0xB1, 0x02, 0xC0},
         0xFFFF,
         0,
         0x2001,
         {cap(0xFF00, 0x01, 0, 8, 0xFFFF)},
         {},
         {cap(0xFF00, 0x02, 0, 0xFFFF, 1)}},
    };
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class HandMadeDescriptor : public testing::TestWithParam<Case> {};

TEST_P(HandMadeDescriptor, GivesExpectedCaps) {
    const Case& c = GetParam();
    const auto caps = parseReportDescriptor(c.descriptor);
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->input.byteLength, c.inputLength);
    EXPECT_EQ(caps->output.byteLength, c.outputLength);
    EXPECT_EQ(caps->feature.byteLength, c.featureLength);
    EXPECT_EQ(caps->input.valueCaps, c.inputCaps);
    EXPECT_EQ(caps->output.valueCaps, c.outputCaps);
    EXPECT_EQ(caps->feature.valueCaps, c.featureCaps);
    EXPECT_EQ(caps->numberedReports, c.numbered);
}

INSTANTIATE_TEST_SUITE_P(Table, HandMadeDescriptor, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

struct Truncated {
    std::string name;
    Bytes descriptor;
};

void PrintTo(const Truncated& t, std::ostream* os) {
    *os << t.name;
}

class TruncatedDescriptor : public testing::TestWithParam<Truncated> {};

TEST_P(TruncatedDescriptor, IsRejected) {
    // Exactly sized copy so that a sanitizer build catches any read past the end.
    const Bytes& bytes = GetParam().descriptor;
    EXPECT_FALSE(parseReportDescriptor(bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TruncatedDescriptor,
    testing::Values(Truncated{"OneByteItemWithoutData", {0x05}},
                    Truncated{"TwoByteItemWithOneByte", {0x05, 0x01, 0x26, 0xFF}},
                    Truncated{"FourByteItemWithThreeBytes", {0x27, 0x01, 0x02, 0x03}},
                    Truncated{"LongItemPrefixOnly", {0xFE}},
                    Truncated{"LongItemWithoutTag", {0xFE, 0x00}},
                    Truncated{"LongItemDataCut", {0xFE, 0x05, 0x10, 0x01, 0x02}},
                    Truncated{"CutAfterValidItems", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75}}),
    [](const testing::TestParamInfo<Truncated>& info) { return info.param.name; });

} // namespace
} // namespace hid
