// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSPixels.h"

#include "HSColors.h"

#include <algorithm>
#include <cstdlib>

void FillRectPixels(QImage& image, int left, int top, int right, int bottom, TColor color) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, image.width());
    bottom = std::min(bottom, image.height());
    if (left >= right || top >= bottom) {
        return;
    }
    const QRgb px = ToQRgb(color);
    for (int y = top; y < bottom; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + left, line + right, px);
    }
}

void SetPixelColor(QImage& image, int x, int y, TColor color) {
    if (x >= 0 && y >= 0 && x < image.width() && y < image.height()) {
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = ToQRgb(color);
    }
}

TColor PixelColor(const QImage& image, int x, int y) {
    return FromQRgb(reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]);
}

void THSPixelPen::moveTo(int x, int y) {
    FX = x;
    FY = y;
}

void THSPixelPen::lineTo(int x, int y) {
    // Bresenham; the end pixel belongs to the next segment.
    const int dx = std::abs(x - FX);
    const int dy = -std::abs(y - FY);
    const int sx = FX < x ? 1 : -1;
    const int sy = FY < y ? 1 : -1;
    int err = dx + dy;
    int cx = FX;
    int cy = FY;
    while (cx != x || cy != y) {
        SetPixelColor(FImage, cx, cy, FColor);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            cx += sx;
        }
        if (e2 <= dx) {
            err += dx;
            cy += sy;
        }
    }
    FX = x;
    FY = y;
}

QImage KeyOutColor(const QImage& image, TColor key) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QRgb keyRgb = ToQRgb(key) & 0x00FFFFFFu;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == keyRgb) {
                line[x] = 0;
            }
        }
    }
    return out;
}
