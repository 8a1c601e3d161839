// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSButtons.h"
#include "HSSpeedButton.h"

#include <QApplication>

#include <gtest/gtest.h>

TEST(HSColors, ShiftColorClampsEachChannel) {
    struct Case {
        TColor in;
        int amount;
        TColor out;
    };
    const Case cases[] = {
        {RGBColor(192, 192, 192), +32, RGBColor(224, 224, 224)},
        {RGBColor(192, 192, 192), -128, RGBColor(64, 64, 64)},
        {RGBColor(192, 192, 192), +128, RGBColor(255, 255, 255)},
        {RGBColor(10, 200, 100), -50, RGBColor(0, 150, 50)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShiftColor(c.in, c.amount), c.out) << c.amount;
    }
    EXPECT_EQ(ClampInt(300, 0, 255), 255);
    EXPECT_EQ(ClampInt(-3, 0, 255), 0);
}

TEST(HSColors, BlendMovesFaceTowardHotByEighths) {
    const QPalette pal;
    const TColor face = RGBColor(192, 192, 192);
    const TColor hot = RGBColor(208, 208, 208);
    EXPECT_EQ(BlendHotTrackColor(face, hot, 0, pal), face);
    EXPECT_EQ(BlendHotTrackColor(face, hot, 8, pal), hot);
    EXPECT_EQ(BlendHotTrackColor(face, hot, 4, pal), RGBColor(200, 200, 200));
    // Channels are truncated, not rounded: 255 * 7/8 = 223.125, 0 + 255 * 1/8 = 31.875.
    EXPECT_EQ(BlendHotTrackColor(RGBColor(255, 0, 0), RGBColor(0, 255, 0), 1, pal),
              RGBColor(223, 31, 0));
}

TEST(HSColors, SystemColoursComeFromThePalette) {
    QPalette pal;
    pal.setColor(QPalette::Button, QColor(10, 20, 30));
    pal.setColor(QPalette::Shadow, QColor(1, 2, 3));
    EXPECT_EQ(ResolveColor(clBtnFace, pal), RGBColor(10, 20, 30));
    EXPECT_EQ(ResolveColor(cl3DDkShadow, pal), RGBColor(1, 2, 3));
    EXPECT_EQ(ResolveColor(RGBColor(5, 6, 7), pal), RGBColor(5, 6, 7));
    EXPECT_EQ(FromQColor(ToQColor(clBtnFace, pal)), RGBColor(10, 20, 30));
    EXPECT_EQ(ToQRgb(RGBColor(1, 2, 3)), qRgb(1, 2, 3));
}

TEST(HSColors, ColorSetterDerivesCompanionsAndCaptionColour) {
    struct Case {
        TColor color;
        TColor font;
    };
    // The caption turns white below a channel mean of 96 (integer division).
    const Case cases[] = {{RGBColor(96, 96, 96), clBlack},
                          {RGBColor(95, 96, 95), clWhite},
                          {RGBColor(192, 192, 192), clBlack}};
    for (const Case& c : cases) {
        THSSpeedButton b;
        b.setColorWhenDown(clWhite);
        b.setColor(c.color);
        EXPECT_EQ(b.fontColor(), c.font) << std::hex << c.color;
        EXPECT_EQ(b.colorWhenDown(), clNone);
    }
    THSSpeedButton b;
    b.setColor(RGBColor(192, 192, 192));
    EXPECT_EQ(b.lightColor(), RGBColor(255, 255, 255));
    EXPECT_EQ(b.hotTrackColor(), RGBColor(224, 224, 224));
    EXPECT_EQ(b.shadowColor(), RGBColor(64, 64, 64));
}

TEST(HSColors, MainWindowConfigurationOrderEndsWithItsOwnValues) {
    QWidget parent;
    THSSpeedButton b(&parent);
    EXPECT_EQ(b.colorStyle(), lcsChrome);
    b.setColor(clSilver);
    b.setColorWhenDown(clWhite);
    b.setColorStyle(lcsChrome);
    b.setHotTrackColor(13684944);
    b.setShadowColor(clSilver);
    b.setSmooth(0);
    b.setButtonStyle(bsModern);
    EXPECT_EQ(b.color(), RGBColor(192, 192, 192));
    EXPECT_EQ(b.lightColor(), RGBColor(255, 255, 255));
    EXPECT_EQ(b.shadowColor(), RGBColor(192, 192, 192));
    EXPECT_EQ(b.hotTrackColor(), RGBColor(208, 208, 208));
    EXPECT_EQ(b.colorWhenDown(), RGBColor(255, 255, 255));
    EXPECT_EQ(b.buttonStyle(), bsModern);
    EXPECT_FALSE(b.flat());
    EXPECT_EQ(b.border(), 1);
}

TEST(HSColors, ColorStyleAppliesTheSchemeAndIsReadBack) {
    QWidget parent;
    THSSpeedButton b(&parent);
    b.setFlat(true);
    b.setFontColor(clWhite);
    b.setColorStyle(lcsGreen);
    EXPECT_EQ(b.colorStyle(), lcsGreen);
    EXPECT_EQ(b.color(), RGBColor(0, 175, 0));
    EXPECT_EQ(b.lightColor(), RGBColor(48, 255, 48));
    EXPECT_EQ(b.shadowColor(), RGBColor(0, 128, 0));
    EXPECT_EQ(b.colorWhenDown(), RGBColor(255, 255, 255));
    EXPECT_EQ(b.hotTrackColor(), RGBColor(96, 207, 96));
    EXPECT_FALSE(b.flat());
    EXPECT_EQ(b.fontColor(), clBlack);
    EXPECT_EQ(b.buttonStyle(), bsModern);
}

TEST(HSColors, ModernNeedsMoreThanEightBitsPerPixel) {
    EXPECT_EQ(EffectiveButtonStyle(bsModern, 8), bsNormal);
    EXPECT_EQ(EffectiveButtonStyle(bsModern, 4), bsNormal);
    EXPECT_EQ(EffectiveButtonStyle(bsModern, 16), bsModern);
    EXPECT_EQ(EffectiveButtonStyle(bsGlass, 8), bsGlass);
}
