// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSPaint.h"

int GlyphCellIndex(bool enabled, bool hot, bool down, int numGlyphs) {
    if (!enabled) {
        return 1;
    }
    int index = 0;
    if (hot && numGlyphs > 3) {
        index = 3;
    }
    if (down && numGlyphs > 2) {
        index = 2; // down wins over hot
    }
    return index;
}

void DrawGlyphCell(QImage& target, const QImage& glyph, int x, int y, int x0, int gh, int gw) {
    if (gw <= 0 || gh <= 0 || glyph.isNull()) {
        return;
    }
    const int stripW = glyph.width();
    const int stripH = glyph.height();
    // The cell starts as the strip's top-left corner (cell 0) and the selected cell is laid over
    // it; what lies outside the strip keeps cell 0 (or black past the strip's own size).
    auto cellPixel = [&](int cx, int cy) -> QRgb {
        if (cy >= stripH) {
            return 0xFF000000u;
        }
        const auto* line = reinterpret_cast<const QRgb*>(glyph.constScanLine(cy));
        if (x0 + cx >= 0 && x0 + cx < stripW) {
            return line[x0 + cx];
        }
        return cx < stripW ? line[cx] : 0xFF000000u;
    };
    const QRgb key = cellPixel(0, gh - 1) & 0x00FFFFFFu;
    for (int cy = 0; cy < gh; ++cy) {
        const int ty = y + cy;
        if (ty < 0 || ty >= target.height()) {
            continue;
        }
        auto* line = reinterpret_cast<QRgb*>(target.scanLine(ty));
        for (int cx = 0; cx < gw; ++cx) {
            const int tx = x + cx;
            if (tx < 0 || tx >= target.width()) {
                continue;
            }
            const QRgb p = cellPixel(cx, cy);
            if ((p & 0x00FFFFFFu) != key) {
                line[tx] = p | 0xFF000000u;
            }
        }
    }
}
