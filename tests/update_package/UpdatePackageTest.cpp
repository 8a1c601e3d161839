// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UpdatePackage.h"

#include "PackageBytes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

namespace qx {
namespace {

using test::Bytes;
using test::cat;
using test::header;
using test::operator+;
using test::pattern;
using test::record;
using test::repeat;

// gtest case names allow only letters, digits and underscores.
std::string caseName(std::string_view what) {
    std::string out;
    for (const char c : what) {
        out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    }
    return out;
}

constexpr std::string_view kDevice = "QX-77ZT(boot)";
const Bytes kHeader = header("NAME=QX-77ZT&VERSION=1.2&");

// 247 full records end at offset 65455, the last whole record that fits in 16 bits.
const Bytes kFullArea = repeat(record(kKindFlash, pattern(256)), 247);

// --- record area -----------------------------------------------------------------------------

struct RecordCase {
    const char* what;
    Bytes area;
    Bytes flash;
    Bytes eeprom;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << caseName(c.what);
}

class Records : public testing::TestWithParam<RecordCase> {};

TEST_P(Records, GatherImagesInFileOrder) {
    const RecordCase& c = GetParam();
    const PackageReadResult r = readUpdatePackage(kHeader + c.area, kDevice);
    ASSERT_EQ(r.verdict, PackageVerdict::Accepted) << r.message;
    EXPECT_EQ(r.package.flash, c.flash);
    EXPECT_EQ(r.package.eeprom, c.eeprom);
    EXPECT_EQ(r.package.header.name, "QX-77ZT");
    EXPECT_TRUE(r.package.header.date.empty());
    EXPECT_TRUE(r.message.empty());
}

INSTANTIATE_TEST_SUITE_P(
    UpdatePackage, Records,
    testing::Values(
        RecordCase{
            "interleaved kinds keep file order",
            cat({record(0, pattern(3, 1)), record(2, pattern(2, 10)), record(0, pattern(2, 20))}),
            {1, 2, 3, 20, 21},
            {10, 11}},
        RecordCase{"all EEPROM gives an empty flash image",
                   cat({record(2, pattern(256)), record(2, pattern(4, 50))}),
                   {},
                   pattern(256) + pattern(4, 50)},
        RecordCase{"other kinds are stepped over by their length",
                   cat({record(1, pattern(5, 90)), record(3, pattern(256)), record(255, {}),
                        record(0, pattern(2, 7))}),
                   {7, 8},
                   {}},
        RecordCase{"length 300 gives 256 bytes and the next record 265 bytes on",
                   cat({record(300, 0, pattern(256)), record(0, {0xAA, 0xBB})}),
                   pattern(256) + Bytes{0xAA, 0xBB},
                   {}},
        RecordCase{"skipped length 300 steps 265 bytes too",
                   cat({record(300, 9, pattern(256)), record(2, {5})}),
                   {},
                   {5}},
        RecordCase{"length 65535 counts as 256", record(0xFFFF, 2, pattern(256)), {}, pattern(256)},
        RecordCase{"last record without its trailing bytes",
                   cat({record(2, {1}), record(0, pattern(4), 0)}),
                   pattern(4),
                   {1}},
        RecordCase{"last record with one trailing byte", record(0, pattern(4), 1), pattern(4), {}},
        RecordCase{"skipped last record may end at its kind byte",
                   cat({record(0, pattern(2)), record(100, 7, {}, 0)}),
                   pattern(2),
                   {}},
        RecordCase{"empty kept record with the byte after its kind", record(0, 0, {}, 1), {}, {}},
        RecordCase{"walk ending exactly at offset 65535",
                   kFullArea + record(0, pattern(71), 0),
                   repeat(pattern(256), 247) + pattern(71),
                   {}}),
    [](const auto& info) { return caseName(info.param.what); });

// --- malformed packages ----------------------------------------------------------------------

struct MalformedCase {
    const char* what;
    Bytes file;
    const char* says; // part of the message
};

void PrintTo(const MalformedCase& c, std::ostream* os) {
    *os << caseName(c.what);
}

class Malformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, IsRefusedWithAReason) {
    const MalformedCase& c = GetParam();
    const PackageReadResult r = readUpdatePackage(c.file, kDevice);
    EXPECT_EQ(r.verdict, PackageVerdict::Malformed) << c.what;
    EXPECT_NE(r.message.find(c.says), std::string::npos) << c.what << ": " << r.message;
    EXPECT_TRUE(r.package.flash.empty() && r.package.eeprom.empty());
}

const Bytes kNameHeader = header("NAME=QX-77ZT&");

INSTANTIATE_TEST_SUITE_P(
    UpdatePackage, Malformed,
    testing::Values(
        MalformedCase{"empty file", {}, "too short"},
        MalformedCase{"one byte", {0x00}, "too short"},
        MalformedCase{"H is 0", header("NAME=QX-77ZT&", 0) + record(0, {1}), "length is 0"},
        MalformedCase{"H is 2", header("NAME=QX-77ZT&", 2) + record(0, {1}), "length is 2"},
        MalformedCase{"H past the end", header("NAME=QX-77ZT&", 16), "past the end"},
        MalformedCase{"NAME= without &", header("NAME=QX-77ZT") + record(0, {1}), "\"&\""},
        MalformedCase{"& only before NAME=", header("A&NAME=QX-77ZT") + record(0, {1}), "\"&\""},
        MalformedCase{"zero byte ends the text before &",
                      header(std::string_view("NAME=QX-77ZT\0&", 14)) + record(0, {1}), "\"&\""},
        MalformedCase{"empty record area", kNameHeader, "no records"},
        MalformedCase{"cut inside the length", kNameHeader + Bytes{0x00}, "kind byte"},
        MalformedCase{"cut before the kind byte", kNameHeader + Bytes(6, 0), "kind byte"},
        MalformedCase{"cut before the kind byte of a later record",
                      kNameHeader + record(0, {1}) + Bytes{0, 1, 0, 0}, "offset 10"},
        MalformedCase{"flash data cut short", kNameHeader + record(10, 0, pattern(5), 0),
                      "before its data"},
        MalformedCase{"EEPROM data cut short", kNameHeader + record(10, 2, pattern(9), 0),
                      "before its data"},
        MalformedCase{"capped data cut short", kNameHeader + record(300, 0, pattern(255), 0),
                      "before its data"},
        MalformedCase{"empty kept record without the byte after its kind",
                      kNameHeader + record(0, 0, {}, 0), "before its data"},
        MalformedCase{"kept record moving past offset 65535",
                      kNameHeader + kFullArea + record(0, pattern(73), 0), "past offset 65535"},
        MalformedCase{"skipped record moving past offset 65535",
                      kNameHeader + kFullArea + record(256, 5, {}, 0), "past offset 65535"},
        MalformedCase{"record area over 65535 bytes", kNameHeader + Bytes(65536, 0),
                      "65536 bytes"}),
    [](const auto& info) { return caseName(info.param.what); });

// --- the check against the unit --------------------------------------------------------------

struct NameCase {
    std::string_view device; // the "Device" field, UTF-8
    std::string_view text;   // header text
    bool fits;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << caseName(c.device) << "_vs_" << caseName(c.text);
}

class Names : public testing::TestWithParam<NameCase> {};

TEST_P(Names, DecideAcceptOrInvalidFile) {
    const NameCase& c = GetParam();
    const PackageReadResult r = readUpdatePackage(header(c.text) + record(0, {1}), c.device);
    if (c.fits) {
        EXPECT_EQ(r.verdict, PackageVerdict::Accepted) << r.message;
    } else {
        EXPECT_EQ(r.verdict, PackageVerdict::NameMismatch);
        EXPECT_EQ(r.message, kInvalidFileText);
        EXPECT_TRUE(r.package.flash.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    UpdatePackage, Names,
    testing::Values(NameCase{"QX-77ZT(boot)", "NAME=QX-77ZT&", true},
                    NameCase{"QX-77ZT", "NAME=QX-77ZT&", true},
                    NameCase{"QX-77ZT (boot)", "NAME=QX-77ZT&", false},
                    NameCase{"QX-77ZT (boot)", "NAME=QX-77ZT &", true},
                    NameCase{"QX-(boot)77ZT", "NAME=QX-77ZT&", true},
                    NameCase{"(boot)QX-77ZT(boot)", "NAME=QX-77ZT&", false},
                    NameCase{"(boot)QX-77ZT(boot)", "NAME=QX-77ZT(boot)&", true},
                    NameCase{"QX-77ZT(BOOT)", "NAME=QX-77ZT&", false},
                    NameCase{"qx-77zt(boot)", "NAME=QX-77ZT&", false},
                    NameCase{"QX-77ZT(boot)", "NAME=QX-77Z&", false},
                    NameCase{"", "VERSION=1.2&", true}, NameCase{"(boot)", "VERSION=1.2&", true},
                    NameCase{"QX-77ZT(boot)", "VERSION=1.2&", false}, NameCase{"", "NAME=&", true},
                    NameCase{"QX-77ZT(boot)", "NAME=&", false},
                    NameCase{"QX-77ZT(boot)", "NAME=QX-77ZT&NAME=OTHER&", true},
                    NameCase{"QX-77ZT(boot)", "X=1 NAME=QX-77ZT&VERSION=1.0&", true},
                    // 8-bit names widen as Latin-1: E4 is "ä", two bytes in UTF-8.
                    NameCase{"Ger\xC3\xA4t(boot)", "NAME=Ger\xE4t&", true},
                    NameCase{"Ger\xE4t(boot)", "NAME=Ger\xE4t&", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(UpdatePackage, AnotherModelIsInvalidFileEvenWithDamagedRecords) {
    const Bytes other = header("NAME=QX-99&VERSION=3.4&");
    for (const Bytes& area : {Bytes{}, Bytes{0x00, 0x05, 0, 0, 0, 0, 0, 1}, Bytes(70000, 0)}) {
        const PackageReadResult r = readUpdatePackage(other + area, kDevice);
        EXPECT_EQ(r.verdict, PackageVerdict::NameMismatch);
        EXPECT_EQ(r.package.header.name, "QX-99");
        EXPECT_EQ(r.package.header.version.major, 3);
        EXPECT_EQ(r.package.header.version.minor, 4);
    }
}

TEST(UpdatePackage, DeviceNameLosesOnlyTheFirstBootMark) {
    EXPECT_EQ(deviceNameFromField("QX-77ZT (boot)"), "QX-77ZT ");
    EXPECT_EQ(deviceNameFromField("(boot)(boot)"), "(boot)");
    EXPECT_EQ(deviceNameFromField("QX-77ZT"), "QX-77ZT");
    EXPECT_EQ(latin1ToUtf8(std::string_view("A\x7F\x80\xFF", 4)), "A\x7F\xC2\x80\xC3\xBF");
}

// --- version digits --------------------------------------------------------------------------

struct VersionCase {
    std::string_view text;
    int major;
    int minor;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << caseName(c.text);
}

class Versions : public testing::TestWithParam<VersionCase> {};

TEST_P(Versions, TakeTheFirstAndThirdCharacter) {
    const VersionCase& c = GetParam();
    const PackageHeaderResult h = readPackageHeader(header(c.text));
    ASSERT_TRUE(h.ok) << h.error;
    EXPECT_EQ(h.header.version.major, c.major) << c.text;
    EXPECT_EQ(h.header.version.minor, c.minor) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    UpdatePackage, Versions,
    testing::Values(VersionCase{"NAME=QX&VERSION=1.2&", 1, 2}, VersionCase{"VERSION=9-9", 9, 9},
                    VersionCase{"VERSION=0.0&", 0, 0}, VersionCase{"VERSION=12&", 1, 0},
                    VersionCase{"VERSION=1.x", 1, 0}, VersionCase{"VERSION=a.3", 0, 3},
                    VersionCase{"VERSION=1.", 1, 0}, VersionCase{"VERSION=", 0, 0},
                    VersionCase{"VERSION=1.2VERSION=3.4", 1, 2}, VersionCase{"version=1.2", 0, 0},
                    VersionCase{{"VERSION=1.\0"
                                 "5",
                                 12},
                                1,
                                0},
                    VersionCase{{"NAME=&\0VERSION=1.2", 18}, 0, 0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// --- files -----------------------------------------------------------------------------------

class PackageFile : public testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("qx_update_package_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path write(const char* name, const Bytes& bytes) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path dir_;
};

TEST_F(PackageFile, ReadsLikeTheBytes) {
    const Bytes bytes = kHeader + record(0, pattern(200)) + record(2, pattern(3));
    const PackageReadResult r = readUpdatePackageFile(write("a.orbu", bytes), kDevice);
    ASSERT_EQ(r.verdict, PackageVerdict::Accepted) << r.message;
    EXPECT_EQ(r.package.flash, pattern(200));
    EXPECT_EQ(r.package.eeprom, pattern(3));
}

TEST_F(PackageFile, UnreadableFilesGiveTheSystemsReason) {
    const struct {
        std::filesystem::path path;
        const char* reason;
    } cases[] = {{dir_ / "missing.orbu", "No such file or directory"}, {dir_, "Is a directory"}};
    for (const auto& c : cases) {
        const PackageReadResult r = readUpdatePackageFile(c.path, kDevice);
        EXPECT_EQ(r.verdict, PackageVerdict::Unreadable);
        EXPECT_NE(r.message.find(c.reason), std::string::npos) << r.message;
        EXPECT_NE(r.message.find(c.path.string()), std::string::npos) << r.message;
    }
}

TEST_F(PackageFile, HugeFileIsRefusedAfterTheCheck) {
    // Larger than any valid package: only the start is loaded, and the verdict is still the one
    // the whole file would get.
    const auto ours = write("ours.orbu", kHeader + Bytes(300000, 0));
    const auto other = write("other.orbu", header("NAME=QX-99&") + Bytes(300000, 0));
    EXPECT_EQ(readUpdatePackageFile(ours, kDevice).verdict, PackageVerdict::Malformed);
    EXPECT_EQ(readUpdatePackageFile(other, kDevice).verdict, PackageVerdict::NameMismatch);
}

} // namespace
} // namespace qx
