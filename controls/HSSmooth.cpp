// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSPaint.h"

#include <vector>

namespace {
// One in-place pass along a line of n pixels spaced `stride` apart. Each new value is written at
// once, so later pixels read the already smoothed ones before them.
void SmoothLine(QRgb* first, int n, int stride, int r) {
    const int span = 2 * r + 1;
    for (int i = 0; i < n; ++i) {
        const QRgb self = first[i * stride];
        int sr = 0;
        int sg = 0;
        int sb = 0;
        for (int k = -r; k <= r; ++k) {
            const int j = i + k;
            const QRgb p = (j < 0 || j >= n) ? self : first[j * stride];
            sr += int((p >> 16) & 0xFF);
            sg += int((p >> 8) & 0xFF);
            sb += int(p & 0xFF);
        }
        first[i * stride] = (self & 0xFF000000u) | (QRgb(sr / span) << 16) |
                            (QRgb(sg / span) << 8) | QRgb(sb / span);
    }
}
} // namespace

void SmoothBitmap(QImage& image, int radius) {
    if (radius <= 0 || image.isNull()) {
        return;
    }
    const int w = image.width();
    const int h = image.height();
    for (int y = 0; y < h; ++y) {
        SmoothLine(reinterpret_cast<QRgb*>(image.scanLine(y)), w, 1, radius);
    }
    const int stride = int(image.bytesPerLine() / int(sizeof(QRgb)));
    auto* bits = reinterpret_cast<QRgb*>(image.bits());
    for (int x = 0; x < w; ++x) {
        SmoothLine(bits + x, h, stride, radius);
    }
}
