// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/PanelModel.h"

#include <gtest/gtest.h>

#include <string>

namespace qx::panel {
namespace {

struct LevelRow {
    int level;
    const char* label; // nullptr: beyond the table
    int width;         // rounded, unclipped
    int shown;
};

TEST(PanelModel, LevelReadingsAndBarWidths) {
    const LevelRow rows[] = {
        {0, "0  ", 116, 116},  {-1, "-0.5", 112, 112},  {-35, "-52", 3, 3},
        {-36, "-52", 0, 0},    {-128, "-52", -295, 0},  {12, "7.4", 154, 154},
        {13, "8  ", 157, 154}, {14, nullptr, 160, 154}, {-24, "-30", 38, 38},
        {-9, "-5.4", 87, 87},  {-10, "-6 ", 83, 83},    {127, nullptr, 523, 154},
    };
    for (const LevelRow& r : rows) {
        SCOPED_TRACE(r.level);
        const auto label = levelLabel(r.level);
        if (r.label == nullptr) {
            EXPECT_FALSE(label.has_value());
        } else {
            ASSERT_TRUE(label.has_value());
            EXPECT_EQ(*label, r.label);
        }
        EXPECT_EQ(barWidth(r.level), r.width);
        EXPECT_EQ(shownBarWidth(r.level), r.shown);
    }
}

TEST(PanelModel, LevelTableIsPaddedAndRising) {
    double previous = -1000;
    for (int i = 0; i < kLevelTexts; ++i) {
        const std::string text = levelTableText(i);
        const double value = std::stod(text);
        EXPECT_GT(value, previous) << i;
        previous = value;
        EXPECT_EQ(*levelLabel(i + kLowestLevel),
                  text.size() >= 3 ? text : text + std::string(3 - text.size(), ' '));
    }
    EXPECT_STREQ(levelTableText(35), "0");
}

TEST(PanelModel, GainClamp) {
    const std::pair<int, int> rows[] = {{0x21, 32}, {-33, -32}, {16, 16},    {32, 32},
                                        {-32, -32}, {127, 32},  {-128, -32}, {0, 0}};
    for (const auto& [in, out] : rows) {
        EXPECT_EQ(clampRecordGain(static_cast<int8_t>(in)), out) << in;
    }
}

TEST(PanelModel, ButtonSchemes) {
    struct Row {
        uint8_t preset, mute, dim, monitor;
        ButtonSchemes expected;
    };
    const auto B = [](std::array<THSColorStyle, 4> p, THSColorStyle m, THSColorStyle s,
                      THSColorStyle d, THSColorStyle dm) {
        return ButtonSchemes{p, m, s, d, dm};
    };
    const auto C = lcsChrome;
    const Row rows[] = {
        {0, 0, 0, 0, B({lcsGreen, C, C, C}, C, C, C, C)},
        {3, 1, 1, 1, B({C, C, C, lcsGreen}, lcsRed, lcsGreen, C, lcsGreen)},
        {1, 2, 2, 2, B({C, lcsGreen, C, C}, lcsBlue, C, lcsGreen, lcsGold)},
        {4, 3, 3, 3, B({C, C, C, C}, C, C, C, C)},
        {255, 255, 255, 255, B({C, C, C, C}, C, C, C, C)},
    };
    for (const Row& r : rows) {
        DeviceSettings s;
        s.preset = r.preset;
        s.muteOn = r.mute;
        s.dimMode = r.dim;
        s.monitorMode = r.monitor;
        EXPECT_EQ(schemesFor(s), r.expected) << int(r.preset);
    }
}

TEST(PanelModel, CentringRoundsHalvesTowardZero) {
    EXPECT_EQ(centredStart(0, 1920, 247), 837);
    EXPECT_EQ(centredStart(0, 1001, 301), 350);
    EXPECT_EQ(centredStart(100, 247, 400), 100 + 123 - 200);
    EXPECT_EQ(centredStart(-50, 11, 3), -50 + 5 - 1);
}

TEST(PanelModel, ConfigExtensionRule) {
    const std::pair<const char*, const char*> rows[] = {
        {"studio", "studio.cfg"},
        {"studio.txt", "studio.txt.cfg"},
        {"STUDIO.CFG", "STUDIO.CFG.cfg"},
        {"studio.cfg", "studio.cfg"},
        {"/home/op/studio.cfg", "/home/op/studio.cfg"},
        {"/home/op.cfg/studio", "/home/op.cfg/studio.cfg"},
        {"/tmp/a.b/c", "/tmp/a.b/c.cfg"},
        {"/tmp/.cfg", "/tmp/.cfg"},
        {"x.cfg.bak", "x.cfg.bak.cfg"},
    };
    for (const auto& [in, out] : rows) {
        EXPECT_EQ(withCfgExtension(in), out) << in;
    }
}

} // namespace
} // namespace qx::panel
