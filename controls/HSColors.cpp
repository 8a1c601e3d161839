// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSColors.h"

#include <cmath>

TColor ShiftColor(TColor color, int amount) {
    return RGBColor(ClampInt(RedOf(color) + amount, 0, 255),
                    ClampInt(GreenOf(color) + amount, 0, 255),
                    ClampInt(BlueOf(color) + amount, 0, 255));
}

TColor GrayOf(TColor color) {
    const int g = (RedOf(color) + GreenOf(color) + BlueOf(color)) / 3;
    return RGBColor(g, g, g);
}

QPalette::ColorRole SystemColorRole(int index) {
    switch (index) {
    case 2:  // active caption
    case 13: // highlight
    case 29: // menu highlight
        return QPalette::Highlight;
    case 9:  // caption text
    case 14: // highlight text
        return QPalette::HighlightedText;
    case 5: // window
        return QPalette::Base;
    case 7:  // menu text
    case 8:  // window text
    case 19: // inactive caption text
        return QPalette::WindowText;
    case 15: // button face
        return QPalette::Button;
    case 16: // button shadow
        return QPalette::Dark;
    case 17: // grey text
        return QPalette::PlaceholderText;
    case 18: // button text
        return QPalette::ButtonText;
    case 20: // button highlight
        return QPalette::Light;
    case 21: // 3-D dark shadow
        return QPalette::Shadow;
    case 22: // 3-D light
        return QPalette::Midlight;
    case 23: // tooltip text
        return QPalette::ToolTipText;
    case 24: // tooltip background
        return QPalette::ToolTipBase;
    case 26: // hot-tracked item
        return QPalette::Link;
    case 6: // window frame
        return QPalette::Shadow;
    case 10: // active border
    case 11: // inactive border
        return QPalette::Mid;
    default: // scroll bar, desktop, menu, app workspace, menu bar ...
        return QPalette::Window;
    }
}

TColor ResolveColor(TColor color, const QPalette& palette) {
    if (IsSystemColor(color)) {
        return FromQRgb(palette.color(SystemColorRole(int(color & 0xFF))).rgb());
    }
    return color & 0x00FFFFFFu;
}

TColor BlendHotTrackColor(TColor face, TColor hot, int step, const QPalette& palette) {
    const TColor f = ResolveColor(face, palette);
    const TColor h = ResolveColor(hot, palette);
    const double t = step / 8.0;
    auto mix = [t](int a, int b) { return int(std::trunc(a * (1.0 - t) + b * t)); };
    return RGBColor(mix(RedOf(f), RedOf(h)), mix(GreenOf(f), GreenOf(h)),
                    mix(BlueOf(f), BlueOf(h)));
}

QColor ToQColor(TColor color, const QPalette& palette) {
    return QColor::fromRgb(ToQRgb(ResolveColor(color, palette)));
}

TColor FromQColor(const QColor& color) {
    return RGBColor(color.red(), color.green(), color.blue());
}

THSColorScheme GetColorScheme(THSColorStyle scheme) {
    // Every scheme presses to white and comes with a non-flat bsModern look and a black caption.
    auto make = [](TColor face, TColor light, TColor shadow, TColor hot) {
        return THSColorScheme{face, light, shadow,  RGBColor(255, 255, 255),
                              hot,  false, clBlack, bsModern};
    };
    switch (scheme) {
    case lcsGreen:
        return make(RGBColor(0, 175, 0), RGBColor(48, 255, 48), RGBColor(0, 128, 0),
                    RGBColor(96, 207, 96));
    case lcsRed:
        return make(RGBColor(255, 0, 0), RGBColor(255, 192, 192), RGBColor(192, 0, 0),
                    RGBColor(255, 112, 112));
    case lcsGold:
        return make(RGBColor(192, 192, 0), RGBColor(255, 255, 0), RGBColor(128, 128, 0),
                    RGBColor(223, 223, 0));
    case lcsBlue:
        return make(RGBColor(80, 80, 255), RGBColor(144, 144, 255), RGBColor(144, 144, 255),
                    RGBColor(144, 144, 255));
    case lcsChrome:
    default:
        return make(RGBColor(192, 192, 192), RGBColor(255, 255, 255), RGBColor(192, 192, 192),
                    RGBColor(208, 208, 208));
    }
}
