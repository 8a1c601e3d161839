// SPDX-License-Identifier: GPL-3.0-or-later
// Direct pixel operations on the 32-bit off-screen image, clipped to the image. They stand in for
// the canvas operations whose exact pixels matter: rectangle fills and 1-pixel pen lines.
#ifndef QX_CONTROLS_HSPIXELS_H
#define QX_CONTROLS_HSPIXELS_H

#include "HSTypes.h"

#include <QImage>

// The colour left undrawn when the composed image reaches the widget.
inline constexpr TColor TransparentKey = 0x00FF00FF; // (255, 0, 255)

// Fills [left, right) x [top, bottom) with an explicit colour; the fourth byte is set to 0xFF.
void FillRectPixels(QImage& image, int left, int top, int right, int bottom, TColor color);

// Sets one pixel when it lies inside the image.
void SetPixelColor(QImage& image, int x, int y, TColor color);

// Explicit colour of one pixel (the fourth byte ignored).
TColor PixelColor(const QImage& image, int x, int y);

// A 1-pixel pen: lineTo draws from the current point to the target, start pixel included and
// end pixel excluded, and moves the current point to the target.
class THSPixelPen {
public:
    explicit THSPixelPen(QImage& image) : FImage(image) {}
    void setColor(TColor color) { FColor = color; }
    void moveTo(int x, int y);
    void lineTo(int x, int y);

private:
    QImage& FImage;
    TColor FColor = 0;
    int FX = 0;
    int FY = 0;
};

// A copy of image in which pixels equal to key have alpha 0, ready to be drawn over a parent.
QImage KeyOutColor(const QImage& image, TColor key);

#endif
