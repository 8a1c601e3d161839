// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinkFrame.h"
#include "link/crc.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace qx {
namespace {

std::span<const uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(Crc16, PublishedCheckValues) {
    EXPECT_EQ(crc16(bytesOf("123456789")), 0x4B37);
    EXPECT_EQ(crc16(bytesOf("abc")), 0x5749);
    EXPECT_EQ(crc16(bytesOf("")), 0xFFFF);
    const uint8_t one = 0x42;
    EXPECT_EQ(crc16(&one, 0), 0xFFFF);
    EXPECT_EQ(crc16(&one, -3), 0xFFFF);
    EXPECT_EQ(crc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x4B37);
}

TEST(ToBigEndian, ReversesOnlyKnownWidths) {
    EXPECT_EQ(toBigEndian(0x1234, 16), 0x3412u);
    EXPECT_EQ(toBigEndian(0x12345678, 32), 0x78563412u);
    EXPECT_EQ(toBigEndian(0x0102030405060708ull, 64), 0x0807060504030201ull);
    EXPECT_EQ(toBigEndian(0x1234, 8), 0x34u);
    EXPECT_EQ(toBigEndian(0x1234, 24), 0x34u);
}

TEST(LinkFrame, StatusRequestIsFiveKnownBytes) {
    const BuiltFrame f = buildFrame(0x00, {});
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.bytes, (std::vector<uint8_t>{0x00, 0x00, 0x00, 0xC0, 0x71}));
}

TEST(LinkFrame, SizesAndCrcHighByteFirst) {
    const std::vector<uint8_t> settings(18, 0x5A);
    const BuiltFrame write = buildFrame(0x80, settings);
    ASSERT_EQ(write.bytes.size(), 23u);
    EXPECT_EQ(write.bytes[1], 0x00);
    EXPECT_EQ(write.bytes[2], 18);
    const uint16_t crc = crc16(std::span<const uint8_t>(write.bytes).first(21));
    EXPECT_EQ(write.bytes[21], crc >> 8);
    EXPECT_EQ(write.bytes[22], crc & 0xFF);

    EXPECT_EQ(buildFrame(0x00, std::vector<uint8_t>(38)).bytes.size(), 43u);
    EXPECT_EQ(buildFrame(0xF1, std::vector<uint8_t>(516)).bytes.size(), 521u);
}

TEST(LinkFrame, OversizedPayloadIsRefusedNotTruncated) {
    const BuiltFrame biggest = buildFrame(0xF1, std::vector<uint8_t>(kMaxFramePayload));
    ASSERT_TRUE(biggest.ok());
    EXPECT_EQ(biggest.bytes.size(), 65535u);

    const BuiltFrame tooBig = buildFrame(0xF1, std::vector<uint8_t>(kMaxFramePayload + 1));
    EXPECT_FALSE(tooBig.ok());
    EXPECT_TRUE(tooBig.bytes.empty());
    EXPECT_NE(tooBig.error.find("65531"), std::string::npos);
}

TEST(LinkFrame, CheckAcceptsOnlyExactFrames) {
    std::vector<uint8_t> payload(38);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7);
    }
    const std::vector<uint8_t> good = buildFrame(0x80, payload).bytes;

    auto view = checkFrame(good);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->command, 0x80);
    EXPECT_TRUE(std::equal(view->payload.begin(), view->payload.end(), payload.begin()));

    // Trailing bytes after the frame (the rest of a report) are allowed.
    std::vector<uint8_t> padded = good;
    padded.resize(58, 0);
    EXPECT_TRUE(checkFrame(padded));

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> swapped = good;
    std::swap(swapped[41], swapped[42]);
    std::vector<uint8_t> flipped = good;
    flipped[10] ^= 0x01;
    std::vector<uint8_t> longLength = good;
    longLength[2] = 39; // claims one more payload byte than the buffer has CRC room for
    const Case bad[] = {
        {"swapped CRC bytes", swapped},
        {"flipped payload bit", flipped},
        {"length past the buffer", longLength},
        {"missing last CRC byte", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"shorter than a header", {0x00, 0x00}},
        {"empty", {}},
    };
    for (const Case& c : bad) {
        EXPECT_FALSE(checkFrame(c.bytes)) << c.name;
    }
}

} // namespace
} // namespace qx
