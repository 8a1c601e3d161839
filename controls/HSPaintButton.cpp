// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSPaint.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

bool FillsWithKey(const THSButtonPaintState& s) {
    return s.transparent || s.style == bsModern || s.style == bsShape || s.style == bsQuicken ||
           s.style == bsGlass;
}

// Outline of [0, w) x [0, h) with corners of radius r, following the same circle as the
// gradient's inset so that outline and face meet without gaps or stray corner pixels.
void RoundedOutline(QImage& image, int w, int h, int r, TColor color) {
    r = std::min({r, w / 2, h / 2});
    auto inset = [r](int d) {
        return r - int(std::nearbyint(std::sqrt(double(2 * r * d - d * d))));
    };
    FillRectPixels(image, r, 0, w - r, 1, color);
    FillRectPixels(image, r, h - 1, w - r, h, color);
    FillRectPixels(image, 0, r, 1, h - r, color);
    FillRectPixels(image, w - 1, r, w, h - r, color);
    for (int d = 0; d < r; ++d) {
        // Row d from the edge: a run from this row's inset to just before the previous row's.
        const int from = inset(d);
        const int to = std::max(from + 1, d == 0 ? r : inset(d - 1));
        FillRectPixels(image, from, d, to, d + 1, color);
        FillRectPixels(image, w - to, d, w - from, d + 1, color);
        FillRectPixels(image, from, h - 1 - d, to, h - d, color);
        FillRectPixels(image, w - to, h - 1 - d, w - from, h - d, color);
    }
}

void RoundedFill(QImage& image, int top, int w, int h, int r, TColor color) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(ToQRgb(color)));
    const QRect rect(0, top, w, h - top);
    if (r > 0) {
        painter.drawRoundedRect(rect, r, r, Qt::AbsoluteSize);
    } else {
        painter.drawRect(rect);
    }
}

void BevelBorder(QImage& image, int w, int h, int border, TColor first, TColor second) {
    THSPixelPen pen(image);
    for (int k = 0; k < border; ++k) {
        pen.setColor(first);
        pen.moveTo(k, h - k - 1);
        pen.lineTo(k, k);
        pen.lineTo(w - k - 1, k);
        pen.setColor(second);
        pen.lineTo(w - k - 1, h - k - 1);
        pen.lineTo(k, h - k - 1);
    }
}

void OldBorder(QImage& image, int w, int h, bool down, TColor shadow, const QPalette& palette) {
    const TColor dark = ResolveColor(cl3DDkShadow, palette);
    const TColor light = ResolveColor(cl3DLight, palette);
    THSPixelPen pen(image);
    pen.setColor(shadow);
    if (down) {
        pen.moveTo(1, h - 3);
        pen.lineTo(1, 1);
        pen.lineTo(w - 2, 1);
    } else {
        pen.moveTo(w - 2, 0);
        pen.lineTo(w - 2, h - 2);
        pen.lineTo(0, h - 2);
    }
    pen.setColor(down ? dark : light);
    pen.moveTo(0, h - 1);
    pen.lineTo(0, 0);
    pen.lineTo(w - 1, 0);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(QColor::fromRgb(ToQRgb(down ? light : dark)), 3, Qt::SolidLine, Qt::FlatCap,
                        Qt::MiterJoin));
    const QPoint path[] = {QPoint(w - 1, 0), QPoint(w - 1, h - 1), QPoint(-1, h - 1)};
    painter.drawPolyline(path, 3);
}

// The drop-down mark shown when a popup menu is attached: a small black arrow on the key colour.
QImage ArrowImage() {
    QImage arrow(7, 4, QImage::Format_RGB32);
    arrow.fill(QColor(255, 0, 255));
    for (int row = 0; row < 4; ++row) {
        FillRectPixels(arrow, row, row, 7 - row, row + 1, clBlack);
    }
    return arrow;
}

void DrawKeyed(QImage& target, const QImage& source, int x, int y) {
    const QRgb key = ToQRgb(TransparentKey) & 0x00FFFFFFu;
    for (int sy = 0; sy < source.height(); ++sy) {
        const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(sy));
        for (int sx = 0; sx < source.width(); ++sx) {
            if ((line[sx] & 0x00FFFFFFu) != key) {
                SetPixelColor(target, x + sx, y + sy, FromQRgb(line[sx]));
            }
        }
    }
}

} // namespace

void PaintButton(QImage& image, const THSButtonPaintState& s) {
    const int w = s.width;
    const int h = s.height;
    const QPalette& pal = s.palette;
    const bool down = s.enabled && s.down;
    const int p = (down && s.style != bsEncarta) ? 2 : 0;

    TColor face = ResolveColor(s.color, pal);
    if (s.enabled && s.hotTrackColor != clNone) {
        face = BlendHotTrackColor(s.color, s.hotTrackColor, s.hotTrackStep, pal);
    }
    if (down && s.colorWhenDown != clNone) {
        face = ResolveColor(s.colorWhenDown, pal);
    }
    const TColor light = ResolveColor(s.lightColor, pal);
    const TColor shadow = ResolveColor(s.shadowColor, pal);

    // Background.
    if (s.style == bsShape) {
        image.fill(QColor::fromRgb(ToQRgb(TransparentKey)));
    } else if (!s.transparent) {
        switch (s.style) {
        case bsNormal:
        case bsEncarta:
        case bsOld:
            FillRectPixels(image, 0, 0, w, h, face);
            break;
        case bsModern: {
            const int split = h / 4 + p;
            DrawGradientBands(image, face, light, 0, 0, w, split, s.border, pal);
            DrawGradientBands(image, light, face, 0, split, w, h, s.border, pal);
            break;
        }
        case bsGlass: {
            const int split = h / 2 + p;
            const TColor l1 = ShiftColor(light, -32);
            const TColor l0 = ShiftColor(light, 0);
            DrawGradientBands(image, light, l1, 0, 0, w, split, s.border, pal);
            DrawGradientBands(image, face, l0, 0, split, w, h, s.border, pal);
            if (!s.flat) {
                SetPixelColor(image, 1, split, l1);
                SetPixelColor(image, w - 2, split, l1);
            }
            break;
        }
        default:
            break;
        }
    }

    // Border.
    switch (s.style) {
    case bsNormal:
    case bsEncarta:
    case bsOld:
        if (!s.flat || (s.enabled && (s.hot || down))) {
            if (s.style == bsOld) {
                OldBorder(image, w, h, down, shadow, pal);
            } else {
                BevelBorder(image, w, h, s.border, down ? shadow : light, down ? light : shadow);
            }
        }
        SmoothBitmap(image, s.smooth);
        break;
    case bsModern:
    case bsGlass:
        if (!s.flat) {
            RoundedOutline(image, w, h, s.border, down ? shadow : face);
        }
        break;
    case bsQuicken: {
        RoundedFill(image, 1, w, h, s.border, face);
        THSPixelPen pen(image);
        pen.setColor(shadow);
        pen.moveTo(s.border, 0);
        pen.lineTo(w - s.border - 1, 0);
        pen.moveTo(s.border, h - 1);
        pen.lineTo(w - s.border - 1, h - 1);
        break;
    }
    case bsShape:
        break;
    }

    QFont font = s.font;
    if (s.style == bsEncarta && down) {
        font.setBold(true);
    }
    if (s.style == bsShape || s.transparent) {
        // Edge pixels blended with the key colour would show as a pink fringe over the parent.
        font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::NoAntialias));
    }

    // Glyph cell.
    const int numGlyphs = s.glyph.isNull() ? 0 : s.numGlyphs;
    const int gw = numGlyphs > 0 ? s.glyph.width() / numGlyphs : 0;
    const int gh = s.glyph.isNull() ? 0 : s.glyph.height();
    const int x0 = GlyphCellIndex(s.enabled, s.hot, down, numGlyphs) * gw;

    // Caption and glyph.
    const QFontMetrics metrics(font, &image);
    const THSCaptionLayout lay = LayoutCaption(s.caption, metrics, w, h, p, gw, gh, s.style,
                                               s.layout, s.alignment, s.wordWrap);
    TColor textColor = ResolveColor(s.fontColor, pal);
    QRect textRect;
    int flags = 0;
    if (s.style == bsShape) {
        textRect = QRect(QPoint(p, lay.textTop), QPoint(w - 1, h - 1));
        flags = CaptionTextFlags(taCenter);
    } else {
        if (!s.enabled) {
            textColor = RGBColor(128, 128, 128);
        }
        textRect = QRect(lay.textLeft, lay.textTop, lay.maxWidth, lay.textHeight);
        flags = CaptionTextFlags(s.alignment);
    }
    const auto drawCaption = [&] {
        if (!lay.caption.isEmpty() && textRect.width() > 0 && textRect.height() > 0) {
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(QColor::fromRgb(ToQRgb(textColor)));
            painter.drawText(textRect, flags, lay.caption);
        }
    };
    // A shape button is its glyph with the caption written over it; the others place the two
    // side by side or one above the other.
    if (s.style == bsShape) {
        DrawGlyphCell(image, s.glyph, lay.glyphX, lay.glyphY, x0, gh, gw);
        drawCaption();
    } else {
        drawCaption();
        DrawGlyphCell(image, s.glyph, lay.glyphX, lay.glyphY, x0, gh, gw);
    }

    if (s.hasPopupMenu) {
        const QImage arrow = ArrowImage();
        DrawKeyed(image, arrow, w - 11, h / 2 - 1);
    }
}

QImage RenderButtonImage(const THSButtonPaintState& state) {
    if (state.width <= 0 || state.height <= 0 || state.width > kMaxPaintExtent ||
        state.height > kMaxPaintExtent) {
        return {};
    }
    QImage image(state.width, state.height, QImage::Format_RGB32);
    image.fill(FillsWithKey(state) ? QColor(255, 0, 255) : QColor(0, 0, 0));
    PaintButton(image, state);
    return image;
}
