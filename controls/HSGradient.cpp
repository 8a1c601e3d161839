// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSPaint.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kBands = 32;

// Horizontal inset of a band at distance d from a rounded edge of radius r.
int CornerInset(int r, int d) {
    return r - int(std::nearbyint(std::sqrt(double(2 * r * d - d * d))));
}
} // namespace

void DrawGradientBands(QImage& image, TColor from, TColor to, int left, int top, int right,
                       int bottom, int radius, const QPalette& palette) {
    const int h = bottom - top;
    // A pressed low button moves its split row below its bottom edge: the section below it is
    // empty, and its corner insets would take the root of a negative number.
    if (h <= 0) {
        return;
    }
    const int thickness = h / kBands + 1;
    const bool roundTop = top <= 1;
    const TColor a = ResolveColor(from, palette);
    const TColor b = ResolveColor(to, palette);
    // Running values accumulate in floating point, so band 31 may end one below `to`.
    double r = RedOf(a);
    double g = GreenOf(a);
    double bl = BlueOf(a);
    const double dr = (RedOf(b) - RedOf(a)) / double(kBands - 1);
    const double dg = (GreenOf(b) - GreenOf(a)) / double(kBands - 1);
    const double db = (BlueOf(b) - BlueOf(a)) / double(kBands - 1);
    for (int i = 0; i < kBands; ++i) {
        const int y = (i * h) / kBands;
        int inset = 0;
        if (roundTop) {
            if (y < radius) {
                inset = CornerInset(radius, y);
            }
        } else if (y > h - radius) {
            inset = CornerInset(radius, h - y - 1);
        }
        const TColor band = RGBColor(int(std::trunc(r)), int(std::trunc(g)), int(std::trunc(bl)));
        r += dr;
        g += dg;
        bl += db;
        FillRectPixels(image, left + inset, top + y, right - inset,
                       std::min(top + y + thickness, bottom), band);
    }
}
