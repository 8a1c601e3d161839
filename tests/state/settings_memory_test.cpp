// SPDX-License-Identifier: GPL-3.0-or-later
// The settings each unit last confirmed: kept per serial number, written only on a change,
// bounded, and a damaged file never trusted.
#include "StateFixture.h"

#include "state/SettingsMemory.h"

namespace qx::state::test {
namespace {

DeviceSettings withGain(int gain) {
    DeviceSettings s = factoryDefaults();
    s.gainLeft = static_cast<std::int8_t>(gain);
    return s;
}

using Memory = StateFolderTest;

TEST_F(Memory, RemembersEachUnitAndWritesOnlyOnAChange) {
    const auto file = root / kSettingsFileName;
    SettingsMemory memory(file);
    EXPECT_EQ(memory.remember("unit A", withGain(-3)), "");
    EXPECT_EQ(memory.remember("B%2", withGain(5)), "");

    std::filesystem::remove(file);
    EXPECT_EQ(memory.remember("unit A", withGain(-3)), "");
    EXPECT_FALSE(std::filesystem::exists(file)) << "an unchanged record is not written";
    EXPECT_EQ(memory.remember("unit A", withGain(-4)), "");
    ASSERT_TRUE(std::filesystem::exists(file));

    SettingsMemory again(file);
    ASSERT_EQ(again.load(), "");
    EXPECT_EQ(again.find("unit A"), withGain(-4));
    EXPECT_EQ(again.find("B%2"), withGain(5));
    EXPECT_FALSE(again.find("unit C"));
    EXPECT_FALSE(again.find(""));
}

TEST_F(Memory, ForgetsTheUnitSeenLongestAgo) {
    SettingsMemory memory(root / kSettingsFileName);
    for (std::size_t i = 0; i <= kRememberedUnits; ++i) {
        memory.remember("unit " + std::to_string(i), withGain(static_cast<int>(i % 16)));
    }
    memory.remember("unit 0", withGain(1)); // seen again: now the newest, nothing dropped
    SettingsMemory again(root / kSettingsFileName);
    ASSERT_EQ(again.load(), "");
    EXPECT_TRUE(again.find("unit 0"));
    EXPECT_FALSE(again.find("unit 1"));
    EXPECT_TRUE(again.find("unit " + std::to_string(kRememberedUnits)));
}

TEST_F(Memory, DamagedOrUnreadableFilesAreReportedAndIgnored) {
    const std::string good = formatSettingsMemory({{"unit A", withGain(2)}});
    struct Case {
        const char* name;
        std::string text;
    };
    for (const Case& c : {
             Case{"CutShort", good.substr(0, good.size() - 5)},
             Case{"Garbage", std::string("\0\1\2\3\n", 5)},
             Case{"Foreign", "[General]\ngain=3\n"},
             Case{"ShortRecord", "qx77zt unit settings 1\nunitA 0001\n"},
             Case{"RepeatedUnit", good + good.substr(good.find('\n') + 1)},
             Case{"TooLarge", std::string(kMaxSettingsFileSize + 1, 'x')},
         }) {
        SCOPED_TRACE(c.name);
        const auto file = root / c.name / kSettingsFileName;
        write(file, c.text);
        SettingsMemory memory(file);
        EXPECT_NE(memory.load().find("ignored"), std::string::npos);
        EXPECT_FALSE(memory.find("unit A"));
        EXPECT_EQ(memory.remember("unit A", withGain(1)), "") << "the next change replaces it";
        SettingsMemory again(file);
        EXPECT_EQ(again.load(), "");
        EXPECT_EQ(again.find("unit A"), withGain(1));
    }
    SettingsMemory blocked(unwritable(kSettingsFileName));
    EXPECT_NE(blocked.load().find("cannot be read"), std::string::npos);
    EXPECT_FALSE(blocked.remember("unit A", withGain(1)).empty());
    EXPECT_EQ(blocked.find("unit A"), withGain(1)) << "kept for this run all the same";
}

} // namespace
} // namespace qx::state::test
