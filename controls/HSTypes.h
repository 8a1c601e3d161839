// SPDX-License-Identifier: GPL-3.0-or-later
// Enumerations and the colour value type shared by the speed button and its painting routines.
#ifndef QX_CONTROLS_HSTYPES_H
#define QX_CONTROLS_HSTYPES_H

#include <cstdint>

// A colour value: 0x00BBGGRR for an explicit colour, 0xFF0000nn for the platform's system colour
// nn, clNone for "no colour".
using TColor = std::uint32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clBlack = 0x00000000;
inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clSilver = 0x00C0C0C0;
inline constexpr TColor clGray = 0x00808080;
inline constexpr TColor clBtnFace = 0xFF00000F;
inline constexpr TColor clWindowText = 0xFF000008;
inline constexpr TColor clBtnText = 0xFF000012;
inline constexpr TColor cl3DDkShadow = 0xFF000015;
inline constexpr TColor cl3DLight = 0xFF000016;

enum THSColorStyle : std::uint8_t { lcsChrome, lcsGreen, lcsRed, lcsGold, lcsBlue };
enum THSButtonLayout : std::uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum THSButtonStyle : std::uint8_t {
    bsNormal,
    bsEncarta,
    bsModern,
    bsOld,
    bsShape,
    bsQuicken,
    bsGlass
};
enum THSSlowDecease : std::uint8_t { sdNone, sdEnterLeave, sdLeave };
enum THSAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };
enum THSVerticalAlignment : std::uint8_t { taAlignTop, taAlignBottom, taVerticalCenter };

#endif
