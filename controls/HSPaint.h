// SPDX-License-Identifier: GPL-3.0-or-later
// Painting of the speed button, kept apart from the widget: PaintButton draws a plain snapshot of
// the button's state into an image, so every look can be checked without a screen.
#ifndef QX_CONTROLS_HSPAINT_H
#define QX_CONTROLS_HSPAINT_H

#include "HSColors.h"
#include "HSPixels.h"
#include "HSTypes.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPalette>
#include <QString>

// Everything PaintButton reads, copied from the button at paint time.
struct THSButtonPaintState {
    int width = 100;
    int height = 23;
    THSAlignment alignment = taCenter;
    QString caption;
    THSButtonLayout layout = blGlyphLeft;
    QFont font;
    TColor fontColor = clBlack;
    TColor shadowColor = RGBColor(0, 0, 0);
    TColor lightColor = RGBColor(255, 255, 255);
    TColor hotTrackColor = clNone;
    TColor colorWhenDown = clNone;
    TColor color = clBtnFace;
    THSButtonStyle style = bsNormal;
    bool hasPopupMenu = false;
    bool wordWrap = false;
    bool flat = false;
    bool enabled = true;
    bool transparent = false;
    bool hot = false;
    bool down = false;
    QImage glyph; // Format_RGB32 strip of numGlyphs square cells, or null
    int numGlyphs = 0;
    int smooth = 0;
    int hotTrackStep = 0;
    int border = 1;
    QPalette palette; // source of the system colours
};

// Largest width or height that can be painted (16-bit coordinates).
inline constexpr int kMaxPaintExtent = 32767;

// Vertical 32-band gradient from -> to over [left, right) x [top, bottom), corners rounded with
// radius at the top when top <= 1, else at the bottom. Colours are resolved through palette.
void DrawGradientBands(QImage& image, TColor from, TColor to, int left, int top, int right,
                       int bottom, int radius, const QPalette& palette);

// In-place box blur of the colour channels, rows first, then columns; radius <= 0 does nothing.
void SmoothBitmap(QImage& image, int radius);

// Index of the glyph strip cell to show: 0 up, 1 disabled, 2 down, 3 hot.
int GlyphCellIndex(bool enabled, bool hot, bool down, int numGlyphs);

// Copies the cell at source offset x0 of glyph (cells gw x gh) to (x, y) of target, leaving
// undrawn the pixels of the cell's bottom-left colour. A cell past the strip shows cell 0.
void DrawGlyphCell(QImage& target, const QImage& glyph, int x, int y, int x0, int gh, int gw);

// Where the caption and glyph go, and the caption as it will be drawn.
struct THSCaptionLayout {
    QString caption; // after fitting
    int maxWidth = 0;
    int textLeft = 0;
    int textTop = 0;
    int textWidth = 0;
    int textHeight = 0;
    int glyphX = 0;
    int glyphY = 0;
};

// Qt text flags for the caption: word wrap, "&" mnemonics, aligned at the top.
int CaptionTextFlags(THSAlignment alignment);

// Placement of caption and glyph for a w x h button with press offset p and glyph cell gw x gh.
THSCaptionLayout LayoutCaption(const QString& caption, const QFontMetrics& metrics, int w, int h,
                               int p, int gw, int gh, THSButtonStyle style, THSButtonLayout layout,
                               THSAlignment alignment, bool wordWrap);

// Draws the whole button into image (already filled with TransparentKey where the widget wants it).
void PaintButton(QImage& image, const THSButtonPaintState& state);

// A fresh image of the button: filled with TransparentKey when the style or Transparent asks for
// it, then painted. Null when the size cannot be painted.
QImage RenderButtonImage(const THSButtonPaintState& state);

#endif
