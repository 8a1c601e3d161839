// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSButtons.h"

#include <QFontDatabase>
#include <QPainter>

#include <cfenv>

#include <gtest/gtest.h>

namespace {

QFont MainWindowFont() {
    QFont font(QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                   ? QStringLiteral("Tahoma")
                   : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

// A main-window button: bsModern, chrome, Border 1, 96 x 49, centred caption.
THSButtonPaintState ChromeButton(const QString& caption = QString()) {
    const THSColorScheme c = GetColorScheme(lcsChrome);
    THSButtonPaintState s;
    s.width = 96;
    s.height = 49;
    s.caption = caption;
    s.font = MainWindowFont();
    s.color = c.face;
    s.lightColor = c.light;
    s.shadowColor = c.shadow;
    s.colorWhenDown = c.down;
    s.hotTrackColor = c.hot;
    s.fontColor = clBlack;
    s.style = bsModern;
    return s;
}

int Grey(const QImage& img, int x, int y) {
    return RedOf(PixelColor(img, x, y));
}

// Bounding box of pixels darker than the threshold: where the caption ink is.
QRect InkBox(const QImage& img, int threshold = 120) {
    QRect box;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const TColor c = PixelColor(img, x, y);
            if (c != TransparentKey && RedOf(GrayOf(c)) < threshold) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

} // namespace

TEST(HSPaint, ChromeModernGradientRowsAndTopCorners) {
    THSButtonPaintState s = ChromeButton();
    s.flat = true; // no outline: the gradient as the bands leave it
    const QImage img = RenderButtonImage(s);
    const int expected[] = {196, 202, 206, 212, 218, 222, 228, 234, 238, 244, 250, 254, 255};
    for (int y = 0; y < 13; ++y) {
        EXPECT_EQ(Grey(img, 48, y), expected[y]) << "row " << y;
        EXPECT_EQ(PixelColor(img, 48, y), GrayOf(PixelColor(img, 48, y))) << "row " << y;
    }
    const int falling[] = {252, 250, 248, 246, 244, 242, 242, 240};
    for (int y = 13; y < 21; ++y) {
        EXPECT_EQ(Grey(img, 48, y), falling[y - 13]) << "row " << y;
    }
    for (int y = 13; y < 48; ++y) {
        EXPECT_LE(Grey(img, 48, y + 1), Grey(img, 48, y)) << "row " << y;
    }
    EXPECT_EQ(Grey(img, 48, 47), 192);
    EXPECT_EQ(Grey(img, 48, 48), 192);
    EXPECT_EQ(PixelColor(img, 0, 0), TransparentKey);
    EXPECT_EQ(PixelColor(img, 95, 0), TransparentKey);
    EXPECT_EQ(Grey(img, 1, 0), 196);
    EXPECT_EQ(Grey(img, 94, 0), 196);
    // With R = 1 the lower section is not inset.
    EXPECT_EQ(Grey(img, 0, 48), 192);

    s.flat = false; // the face-coloured outline keeps the corners open
    const QImage outlined = RenderButtonImage(s);
    EXPECT_EQ(PixelColor(outlined, 0, 0), TransparentKey);
    EXPECT_EQ(PixelColor(outlined, 95, 0), TransparentKey);
    EXPECT_EQ(PixelColor(outlined, 0, 24), RGBColor(192, 192, 192));
}

TEST(HSPaint, ChromeModernDownIsPlainWhiteWithShadowOutline) {
    THSButtonPaintState s = ChromeButton();
    s.down = true;
    s.shadowColor = RGBColor(100, 100, 100); // to tell the outline apart
    const QImage img = RenderButtonImage(s);
    for (int y = 1; y < 48; ++y) {
        EXPECT_EQ(PixelColor(img, 48, y), clWhite) << "row " << y;
    }
    EXPECT_EQ(PixelColor(img, 0, 24), RGBColor(100, 100, 100));
    EXPECT_EQ(PixelColor(img, 48, 48), RGBColor(100, 100, 100));

    // A disabled button shows up, whatever Down holds.
    s.enabled = false;
    EXPECT_EQ(Grey(RenderButtonImage(s), 48, 12), 255);
    EXPECT_EQ(Grey(RenderButtonImage(s), 48, 47), 192);
}

TEST(HSPaint, ModernDownMovesTheSplitRowTwoDown) {
    THSButtonPaintState s = ChromeButton();
    const THSColorScheme g = GetColorScheme(lcsGreen);
    s.color = g.face;
    s.lightColor = g.light;
    s.colorWhenDown = clNone;
    s.flat = true;
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 48, 12), g.light);
    s.down = true;
    const QImage down = RenderButtonImage(s);
    EXPECT_EQ(PixelColor(down, 48, 14), g.light);
    EXPECT_NE(PixelColor(down, 48, 12), g.light);
}

TEST(HSPaint, CaptionIsCentredAndMovesWithThePress) {
    THSButtonPaintState s = ChromeButton(QStringLiteral("1"));
    const QImage up = RenderButtonImage(s);
    s.down = true;
    const QImage down = RenderButtonImage(s);

    // Where QPainter puts the same text in [4, 92) x [(49 - TH) div 2, ...).
    QImage ref(96, 49, QImage::Format_RGB32);
    ref.fill(Qt::white);
    const int flags = CaptionTextFlags(taCenter);
    const QFontMetrics fm(s.font, &ref);
    const int th = fm.boundingRect(QRect(0, 0, 88, 1 << 20), flags, QStringLiteral("1")).height();
    {
        QPainter p(&ref);
        p.setFont(s.font);
        p.setPen(Qt::black);
        p.drawText(QRect(4, (49 - th) / 2, 88, th), flags, QStringLiteral("1"));
    }
    const QRect expected = InkBox(ref);
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(InkBox(up), expected);
    EXPECT_EQ(InkBox(down), expected.translated(2, 2));
}

TEST(HSPaint, NarrowButtonCutsItsCaptionToNothing) {
    THSButtonPaintState s = ChromeButton(QStringLiteral("MUTE"));
    s.width = 8;
    const QFontMetrics fm(s.font);
    const THSCaptionLayout lay =
        LayoutCaption(s.caption, fm, 8, 49, 0, 0, 0, bsModern, blGlyphLeft, taCenter, false);
    EXPECT_EQ(lay.maxWidth, 0);
    EXPECT_TRUE(lay.caption.isEmpty());
    // "&" counts when fitting even though it is not drawn.
    const int w = fm.horizontalAdvance(QStringLiteral("&A"));
    const THSCaptionLayout amp = LayoutCaption(QStringLiteral("&AB"), fm, w + 8, 49, 0, 0, 0,
                                               bsModern, blGlyphLeft, taCenter, false);
    EXPECT_EQ(amp.caption, QStringLiteral("&A"));
}

TEST(HSPaint, GlyphAndCaptionPlacementByLayout) {
    const QFont font = MainWindowFont();
    const QFontMetrics fm(font);
    const QString text = QStringLiteral("Go");
    const int gw = 16;
    const int gh = 16;
    struct Case {
        THSButtonLayout layout;
        THSAlignment align;
        int p;
    };
    const Case cases[] = {{blGlyphLeft, taCenter, 0},
                          {blGlyphRight, taRightJustify, 2},
                          {blGlyphTop, taCenter, 0},
                          {blGlyphBottom, taLeftJustify, 2}};
    for (const Case& c : cases) {
        const THSCaptionLayout l =
            LayoutCaption(text, fm, 120, 60, c.p, gw, gh, bsNormal, c.layout, c.align, false);
        const int th = l.textHeight;
        const int tw4 = l.textWidth + 4;
        switch (c.layout) {
        case blGlyphLeft:
            EXPECT_EQ(l.maxWidth, 120 - 8 - 20);
            EXPECT_EQ(l.textLeft, 4 + 20);
            EXPECT_EQ(l.glyphX, (120 - gw) / 2 - tw4 / 2);
            EXPECT_EQ(l.glyphY, (60 - gh) / 2);
            break;
        case blGlyphRight:
            EXPECT_EQ(l.textLeft, 6);
            EXPECT_EQ(l.glyphX, 120 - 4 + 2 - gw);
            EXPECT_EQ(l.textTop, (60 - th) / 2 + 2);
            break;
        case blGlyphTop:
            EXPECT_EQ(l.glyphY, (60 - (th + gh + 4)) / 2);
            EXPECT_EQ(l.textTop, l.glyphY + gh); // the gap counts only in the block
            EXPECT_EQ(l.glyphX, (120 - gw) / 2);
            break;
        case blGlyphBottom:
            EXPECT_EQ(l.textTop, (60 - (th + gh + 4)) / 2 + 2);
            EXPECT_EQ(l.glyphY, l.textTop + th);
            EXPECT_EQ(l.glyphX, 6);
            break;
        }
    }
}

TEST(HSPaint, SmoothBitmapBlursInPlaceLeftToRight) {
    QImage img(5, 1, QImage::Format_ARGB32);
    const int in[] = {0, 0, 255, 0, 0};
    for (int x = 0; x < 5; ++x) {
        img.setPixel(x, 0, qRgba(in[x], in[x], in[x], 0x12));
    }
    SmoothBitmap(img, 1);
    // Each new value feeds the next: 0, 85, (85+255+0)/3, (113+0+0)/3, (37+0+0)/3.
    const int out[] = {0, 85, 113, 37, 12};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(qRed(img.pixel(x, 0)), out[x]) << x;
        EXPECT_EQ(qAlpha(img.pixel(x, 0)), 0x12) << x;
    }
    QImage same = img;
    SmoothBitmap(same, 0);
    EXPECT_EQ(same, img);
}

TEST(HSPaint, GlyphCellChoice) {
    struct Case {
        bool enabled, hot, down;
        int cells, index;
    };
    const Case cases[] = {{false, true, true, 1, 1}, {true, true, true, 4, 2},
                          {true, true, false, 4, 3}, {true, true, false, 3, 0},
                          {true, false, true, 3, 2}, {true, false, true, 2, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(GlyphCellIndex(c.enabled, c.hot, c.down, c.cells), c.index)
            << c.enabled << c.hot << c.down << c.cells;
    }
    // One cell, disabled: cell 1 lies past the strip, so cell 0 shows; its bottom-left colour
    // is keyed out.
    QImage strip(4, 4, QImage::Format_RGB32);
    strip.fill(qRgb(0, 128, 128));
    strip.setPixel(1, 1, qRgb(200, 0, 0));
    QImage target(10, 10, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    DrawGlyphCell(target, strip, 3, 3, 4, 4, 4);
    EXPECT_EQ(PixelColor(target, 4, 4), RGBColor(200, 0, 0));
    EXPECT_EQ(PixelColor(target, 3, 3), RGBColor(1, 2, 3));
}

TEST(HSPaint, StyleSpecificLooks) {
    THSButtonPaintState s = ChromeButton();
    s.width = 40;
    s.height = 20;
    s.border = 2;
    const TColor light = RGBColor(250, 250, 250);
    const TColor shadow = RGBColor(20, 20, 20);
    s.lightColor = light;
    s.shadowColor = shadow;

    // bsEncarta: the bevel colours swap when pressed.
    s.style = bsEncarta;
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 0, 10), light);
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 39, 10), shadow);
    s.down = true;
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 0, 10), shadow);
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 39, 10), light);
    s.down = false;

    // bsQuicken fills its rounded face even when transparent.
    s.style = bsQuicken;
    s.transparent = true;
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 20, 10), RGBColor(192, 192, 192));
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 20, 0), shadow);

    // Transparent bsModern: only the outline.
    s.style = bsModern;
    const QImage modern = RenderButtonImage(s);
    EXPECT_EQ(PixelColor(modern, 20, 10), TransparentKey);
    EXPECT_EQ(PixelColor(modern, 0, 10), RGBColor(192, 192, 192));

    // bsShape: nothing but caption; a disabled caption keeps the font colour.
    s = ChromeButton(QStringLiteral("X"));
    s.style = bsShape;
    s.enabled = false;
    s.fontColor = RGBColor(0, 0, 200);
    const QImage shape = RenderButtonImage(s);
    int keyed = 0;
    int caption = 0;
    for (int y = 0; y < 49; ++y) {
        for (int x = 0; x < 96; ++x) {
            const TColor c = PixelColor(shape, x, y);
            keyed += c == TransparentKey;
            caption += c == RGBColor(0, 0, 200);
        }
    }
    EXPECT_GT(caption, 0);
    EXPECT_EQ(keyed + caption, 96 * 49);

    // Too large for 16-bit coordinates: nothing is painted.
    s.width = 40000;
    EXPECT_TRUE(RenderButtonImage(s).isNull());
}

TEST(HSPaint, VeryLowModernRoundsBothSectionsAtTheTop) {
    THSButtonPaintState s = ChromeButton();
    s.width = 20;
    s.height = 6; // S = 1: the lower section starts at row 1 and is rounded at its top
    s.border = 2;
    s.flat = true;
    const QImage img = RenderButtonImage(s);
    EXPECT_EQ(PixelColor(img, 1, 1), TransparentKey);
    EXPECT_NE(PixelColor(img, 2, 1), TransparentKey);
    EXPECT_NE(PixelColor(img, 0, 5), TransparentKey);
}

TEST(HSPaint, ShapeWritesItsCaptionOverTheGlyph) {
    // A red glyph filling most of the button; its bottom-left pixel is the see-through colour.
    QImage glyph(80, 40, QImage::Format_RGB32);
    glyph.fill(qRgb(200, 0, 0));
    glyph.setPixel(0, 39, qRgb(255, 255, 255));
    THSButtonPaintState s = ChromeButton(QStringLiteral("X"));
    s.style = bsShape;
    s.glyph = glyph;
    s.numGlyphs = 1;
    s.fontColor = RGBColor(0, 0, 200);
    const QImage shape = RenderButtonImage(s);
    const QRect glyphCell((96 - 80) / 2, (49 - 40) / 2, 80, 40);
    int captionOnGlyph = 0;
    int glyphShown = 0;
    for (int y = glyphCell.top(); y <= glyphCell.bottom(); ++y) {
        for (int x = glyphCell.left(); x <= glyphCell.right(); ++x) {
            captionOnGlyph += PixelColor(shape, x, y) == RGBColor(0, 0, 200);
            glyphShown += PixelColor(shape, x, y) == RGBColor(200, 0, 0);
        }
    }
    EXPECT_GT(captionOnGlyph, 0) << "the glyph covers the caption";
    EXPECT_GT(glyphShown, 80 * 40 / 2);
}

TEST(HSPaint, PressedLowButtonsHaveAnEmptyLowerSection) {
    // Pressed, the split row moves two rows down: below the bottom edge of a bsModern button of
    // height 2 or less, or a bsGlass button of height 4 or less.
    struct Case {
        THSButtonStyle style;
        int height;
    };
    const Case cases[] = {{bsModern, 1}, {bsModern, 2}, {bsModern, 3}, {bsGlass, 1},
                          {bsGlass, 2},  {bsGlass, 3},  {bsGlass, 4},  {bsGlass, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "style " << int(c.style) << ", height " << c.height);
        THSButtonPaintState s = ChromeButton();
        s.style = c.style;
        s.height = c.height;
        s.border = 2;
        s.flat = true;
        s.down = true;
        std::feclearexcept(FE_ALL_EXCEPT);
        const QImage img = RenderButtonImage(s);
        EXPECT_FALSE(std::fetestexcept(FE_INVALID)) << "a square root of a negative number";
        ASSERT_EQ(img.height(), c.height);
        // The upper section is drawn, rounded at its top corners, and fills the middle.
        EXPECT_EQ(PixelColor(img, 0, 0), TransparentKey);
        EXPECT_NE(PixelColor(img, 48, c.height - 1), TransparentKey);
    }

    // The band routine itself leaves the image alone for an empty or inverted rectangle.
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    const QImage before = image;
    std::feclearexcept(FE_ALL_EXCEPT);
    for (const int bottom : {4, 3, 0}) {
        DrawGradientBands(image, clWhite, clBlack, 0, 4, 8, bottom, 3, QPalette());
    }
    EXPECT_FALSE(std::fetestexcept(FE_INVALID));
    EXPECT_EQ(image, before);
}
