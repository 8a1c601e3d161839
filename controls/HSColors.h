// SPDX-License-Identifier: GPL-3.0-or-later
// Colour routines of the speed button: channel access, shifting, grey level, the hot-track blend,
// system colours through a QPalette, and the table of colour schemes.
#ifndef QX_CONTROLS_HSCOLORS_H
#define QX_CONTROLS_HSCOLORS_H

#include "HSTypes.h"

#include <QColor>
#include <QPalette>
#include <QRgb>

constexpr TColor RGBColor(int r, int g, int b) {
    return TColor(r & 0xFF) | (TColor(g & 0xFF) << 8) | (TColor(b & 0xFF) << 16);
}
constexpr int RedOf(TColor c) {
    return int(c & 0xFF);
}
constexpr int GreenOf(TColor c) {
    return int((c >> 8) & 0xFF);
}
constexpr int BlueOf(TColor c) {
    return int((c >> 16) & 0xFF);
}
constexpr bool IsSystemColor(TColor c) {
    return (c & 0xFFFFFF00u) == 0xFF000000u;
}
constexpr TColor SystemColor(int index) {
    return 0xFF000000u | TColor(index & 0xFF);
}

// high if value > high, else low if value < low, else value.
constexpr int ClampInt(int value, int low, int high) {
    return value > high ? high : (value < low ? low : value);
}

// Adds amount to each channel of an explicit colour, clamped to 0..255.
TColor ShiftColor(TColor color, int amount);
// (g, g, g) with g the integer mean of the three channels of an explicit colour.
TColor GrayOf(TColor color);

// The palette role that stands for a system colour index (15 button face, 21 3-D dark shadow...).
QPalette::ColorRole SystemColorRole(int index);
// Replaces a system colour by its current palette value. Explicit colours pass unchanged; any
// other value (clNone included) is taken by its low 24 bits, as the platform would draw it.
TColor ResolveColor(TColor color, const QPalette& palette);

// face moved toward hot by step/8, both resolved first; each channel truncated.
TColor BlendHotTrackColor(TColor face, TColor hot, int step, const QPalette& palette);

// Conversions to and from Qt's colour types. Alpha is dropped on the way in.
QColor ToQColor(TColor color, const QPalette& palette);
TColor FromQColor(const QColor& color);
constexpr QRgb ToQRgb(TColor explicitColor) {
    return 0xFF000000u | (QRgb(RedOf(explicitColor)) << 16) | (QRgb(GreenOf(explicitColor)) << 8) |
           QRgb(BlueOf(explicitColor));
}
constexpr TColor FromQRgb(QRgb rgb) {
    return RGBColor(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
}

struct THSColorScheme {
    TColor face;
    TColor light;
    TColor shadow;
    TColor down;
    TColor hot;
    bool flat;
    TColor fontColor;
    THSButtonStyle style;
};

THSColorScheme GetColorScheme(THSColorStyle scheme);

#endif
