// SPDX-License-Identifier: GPL-3.0-or-later
// Table test: every descriptor in data/ must give exactly the lengths and value capabilities
// recorded with it.
#include "OracleFile.h"

#include "hidlib/descriptor/ReportDescriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>

namespace hid {

// Readable failure messages for the capability comparisons.
void PrintTo(const ValueCap& c, std::ostream* os) {
    *os << std::hex << "{page 0x" << c.usagePage << " usage 0x" << c.usage;
    if (c.isRange) {
        *os << "..0x" << c.usageMax;
    }
    *os << std::dec << " id " << int{c.reportId} << " bits " << c.bitSize << " count "
        << c.reportCount << (c.isRange ? " range}" : "}");
}

namespace {

std::vector<std::string> oracleFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(QX_HID_ORACLE_DIR)) {
        const auto name = entry.path().filename().string();
        if (entry.path().extension() == ".txt" && name != "README.txt") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class DescriptorOracle : public testing::TestWithParam<std::string> {};

TEST_P(DescriptorOracle, MatchesRecordedCaps) {
    std::string error;
    const auto oracle = test::readOracle(GetParam(), error);
    ASSERT_TRUE(oracle) << error;
    ASSERT_FALSE(oracle->descriptor.empty());
    if (oracle->declaredLength) {
        ASSERT_EQ(oracle->descriptor.size(), *oracle->declaredLength) << "hex block damaged";
    }

    const auto caps = parseReportDescriptor(oracle->descriptor);
    ASSERT_TRUE(caps) << oracle->name;

    const ReportTypeCaps* types[] = {&caps->input, &caps->output, &caps->feature};
    const char* typeNames[] = {"input", "output", "feature"};
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE(typeNames[t]);
        const test::OracleType& expected = oracle->types[t];
        const ReportTypeCaps& actual = *types[t];
        ASSERT_TRUE(expected.byteLength && expected.capCount) << "incomplete oracle";
        EXPECT_EQ(actual.byteLength, *expected.byteLength);
        EXPECT_EQ(actual.valueCaps.size(), *expected.capCount);
        ASSERT_LE(expected.listedCaps.size(), actual.valueCaps.size());
        for (size_t i = 0; i < expected.listedCaps.size(); ++i) {
            EXPECT_EQ(actual.valueCaps[i], expected.listedCaps[i]) << "cap " << i;
        }
    }
}

std::string testName(const testing::TestParamInfo<std::string>& info) {
    std::string name = std::filesystem::path(info.param).stem().string();
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return "f" + name;
}

INSTANTIATE_TEST_SUITE_P(Data, DescriptorOracle, testing::ValuesIn(oracleFiles()), testName);

} // namespace
} // namespace hid
