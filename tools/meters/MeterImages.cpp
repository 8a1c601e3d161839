// SPDX-License-Identifier: GPL-3.0-or-later
#include "MeterImages.h"

#include <cmath>
#include <iterator>

namespace qx::meters {

namespace {

struct Stop {
    int column;
    int red;
    int green;
};

// Green turning yellow up to column 111, orange over 112..115, then on to pure red.
constexpr Stop kStops[] = {
    {0, 42, 161},    {16, 54, 166},   {32, 71, 174},   {48, 92, 185},   {64, 115, 196},
    {77, 134, 205},  {90, 176, 221},  {100, 205, 222}, {107, 221, 222}, {111, 228, 221},
    {112, 233, 220}, {113, 245, 195}, {114, 252, 157}, {115, 255, 112}, {116, 255, 98},
    {120, 255, 82},  {125, 255, 63},  {130, 255, 45},  {135, 255, 30},  {140, 255, 17},
    {145, 255, 7},   {150, 255, 1},   {153, 255, 0},
};

uint8_t lerp(int a, int b, int num, int den) {
    return static_cast<uint8_t>(std::lround(a + (b - a) * static_cast<double>(num) / den));
}

} // namespace

Rgb barColour(int column) {
    if (column <= kStops[0].column) {
        return {static_cast<uint8_t>(kStops[0].red), static_cast<uint8_t>(kStops[0].green), 0};
    }
    for (std::size_t i = 1; i < std::size(kStops); ++i) {
        const Stop& hi = kStops[i];
        if (column <= hi.column) {
            const Stop& lo = kStops[i - 1];
            const int num = column - lo.column;
            const int den = hi.column - lo.column;
            return {lerp(lo.red, hi.red, num, den), lerp(lo.green, hi.green, num, den), 0};
        }
    }
    const Stop& last = kStops[std::size(kStops) - 1];
    return {static_cast<uint8_t>(last.red), static_cast<uint8_t>(last.green), 0};
}

QImage backgroundImage() {
    QImage img(kBackgroundWidth, kHeight, QImage::Format_RGB32);
    img.fill(QColor(kBackgroundGrey, kBackgroundGrey, kBackgroundGrey));
    return img;
}

QImage barImage() {
    QImage img(kBarWidth, kHeight, QImage::Format_ARGB32);
    for (int y = 0; y < kHeight; ++y) {
        const int alpha = (y == 0 || y == kHeight - 1) ? kEdgeAlpha : 255;
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < kBarWidth; ++x) {
            const Rgb c = barColour(x);
            line[x] = qRgba(c.red, c.green, c.blue, alpha);
        }
    }
    return img;
}

} // namespace qx::meters
