// SPDX-License-Identifier: GPL-3.0-or-later
// The level meters' pictures: a grey background and a green-yellow-orange-red bar with soft top
// and bottom edges. The committed PNGs under panel/meters are made from these by qx_meters.
#pragma once

#include <QImage>

#include <array>
#include <cstdint>

namespace qx::meters {

inline constexpr int kBackgroundWidth = 200;
inline constexpr int kBarWidth = 154;
inline constexpr int kHeight = 10;
inline constexpr uint8_t kEdgeAlpha = 242;
inline constexpr uint8_t kBackgroundGrey = 151;

struct Rgb {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// The bar's colour at `column` (0..153); blue is always 0.
Rgb barColour(int column);

// 200 x 10, one opaque grey.
QImage backgroundImage();
// 154 x 10 with alpha: the top and bottom rows at kEdgeAlpha, the rows between opaque.
QImage barImage();

} // namespace qx::meters
