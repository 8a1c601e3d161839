// SPDX-License-Identifier: GPL-3.0-or-later
// Packages written by mkorbu's writer read back to the same images, and the sample package of
// the virtual unit is one the reader accepts.
#include "tools/mkorbu/PackageWriter.h"
#include "update/UpdatePackage.h"

#include "PackageBytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>

namespace qx {
namespace {

using test::Bytes;
using test::operator+;
using test::pattern;

// Both images together may fill at most 65535 bytes of records: 247 full records and one of 71.
constexpr std::size_t kMostData = 247 * 256 + 71;

struct RoundTripCase {
    std::size_t flash;
    std::size_t eeprom;
    std::optional<std::string> version;
    int major;
    int minor;
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << "flash_" << c.flash << "_eeprom_" << c.eeprom << "_version_"
        << c.version.value_or("none");
}

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReadsBackTheImages) {
    const RoundTripCase& c = GetParam();
    const PackageContents contents{"QX-77ZT", c.version, pattern(c.flash, 3), pattern(c.eeprom, 9)};
    const PackageWriteResult w = writePackage(contents);
    ASSERT_TRUE(w.ok) << w.error;
    const PackageReadResult r = readUpdatePackage(w.bytes, "QX-77ZT(boot)");
    ASSERT_EQ(r.verdict, PackageVerdict::Accepted) << r.message;
    EXPECT_EQ(r.package.header.name, "QX-77ZT");
    EXPECT_EQ(r.package.header.version.major, c.major);
    EXPECT_EQ(r.package.header.version.minor, c.minor);
    EXPECT_EQ(r.package.flash, contents.flash);
    EXPECT_EQ(r.package.eeprom, contents.eeprom);
}

INSTANTIATE_TEST_SUITE_P(
    PackageWriter, RoundTrip,
    testing::Values(RoundTripCase{0, 0, std::nullopt, 0, 0}, RoundTripCase{1, 0, "1.2", 1, 2},
                    RoundTripCase{0, 300, "0.9", 0, 9}, RoundTripCase{256, 256, std::nullopt, 0, 0},
                    RoundTripCase{4096, 320, "9.9", 9, 9}, RoundTripCase{kMostData, 0, "1.0", 1, 0},
                    RoundTripCase{kMostData - 512, 503, "1.0", 1, 0}),
    [](const auto& info) {
        return "flash" + std::to_string(info.param.flash) + "_eeprom" +
               std::to_string(info.param.eeprom);
    });

TEST(PackageWriter, RecordsCarryTheirAddressAndChecksum) {
    const PackageWriteResult w = writePackage({"QX", std::nullopt, pattern(300, 250), {}});
    ASSERT_TRUE(w.ok);
    const std::size_t h = 2 + std::string("NAME=QX&").size();
    const Bytes second(w.bytes.begin() + static_cast<std::ptrdiff_t>(h + 265), w.bytes.end());
    const Bytes data(second.begin() + 7, second.begin() + 7 + 44);
    const std::uint16_t sum = recordChecksum(data);
    const Bytes expected =
        Bytes{0, 44, 0, 0, 1, 0, kKindFlash} + data +
        Bytes{static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)};
    EXPECT_EQ(second, expected);
}

TEST(PackageWriter, RefusesWhatNoReaderCouldTake) {
    const PackageContents cases[] = {
        {"QX&1", std::nullopt, {1}, {}},
        {std::string("QX\0", 3), std::nullopt, {1}, {}},
        {"QX", "12", {1}, {}},
        {"QX", "1.2.3", {1}, {}},
        {"QX", std::nullopt, pattern(kMostData + 1), {}},
        {"QX", std::nullopt, pattern(kMostData - 100), pattern(101)},
    };
    for (const PackageContents& c : cases) {
        const PackageWriteResult w = writePackage(c);
        EXPECT_FALSE(w.ok) << c.name;
        EXPECT_FALSE(w.error.empty());
    }
}

TEST(PackageWriter, DemoSampleFitsTheVirtualUnit) {
    std::ifstream in(QX_DEMO_PACKAGE, std::ios::binary);
    ASSERT_TRUE(in) << QX_DEMO_PACKAGE;
    const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The product string the virtual unit reports in boot mode.
    const PackageReadResult r = readUpdatePackage(bytes, "QX-77ZT (boot)");
    ASSERT_EQ(r.verdict, PackageVerdict::Accepted) << r.message;
    EXPECT_EQ(r.package.header.name, "QX-77ZT ");
    EXPECT_EQ(r.package.flash.size(), 4096U);
    EXPECT_EQ(r.package.eeprom.size(), 320U);
    EXPECT_EQ(std::string(r.package.flash.begin(), r.package.flash.begin() + 22),
              "QX-77ZT demo firmware\n");
    EXPECT_EQ(r.package.header.version.major, 1);
    EXPECT_EQ(r.package.header.version.minor, 0);
}

} // namespace
} // namespace qx
