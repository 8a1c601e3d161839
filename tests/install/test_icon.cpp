// SPDX-License-Identifier: GPL-3.0-or-later
// The committed icons are what the icon tool draws today.
//
// The icon is drawn with antialiasing, and Qt's antialiased raster output may differ in the last
// bit from one processor to another (its SIMD paths round differently: on a machine with AVX-512
// one pixel of the 48 px icon came out one level off). So the committed files, made on one
// machine, are compared with the drawing on this one within a tolerance: each channel of each
// pixel, premultiplied as drawn, may differ by at most kTolerance levels. That is far below any
// change one could see or mean: a moved edge, a changed colour or a meter at another height
// changes pixels by tens of levels.
#include "IconDrawing.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

constexpr int kTolerance = 2;

QImage premultiplied(const QImage& image) {
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Empty when the two agree within the tolerance; otherwise where and by how much they differ.
std::string iconDifference(const QImage& committed, const QImage& drawn) {
    if (committed.size() != drawn.size()) {
        std::ostringstream out;
        out << "size " << committed.width() << "x" << committed.height() << " against "
            << drawn.width() << "x" << drawn.height();
        return out.str();
    }
    const QImage a = premultiplied(committed);
    const QImage b = premultiplied(drawn);
    int worst = 0;
    int worstX = 0;
    int worstY = 0;
    int beyond = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* lineA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lineB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = lineA[x];
            const QRgb q = lineB[x];
            const int d =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            beyond += d > kTolerance ? 1 : 0;
            if (d > worst) {
                worst = d;
                worstX = x;
                worstY = y;
            }
        }
    }
    if (beyond == 0) {
        return {};
    }
    std::ostringstream out;
    out << beyond << " pixel(s) differ by more than " << kTolerance << " levels; the largest, "
        << worst << " levels, at (" << worstX << ", " << worstY << ")";
    return out.str();
}

TEST(ProgramIcon, CommittedPngsMatchTheDrawing) {
    for (int size : qx::kIconSizes) {
        const QString path = QStringLiteral(QX_ICON_DIR "/qx77zt-%1.png").arg(size);
        QImage committed(path);
        ASSERT_FALSE(committed.isNull()) << path.toStdString();
        EXPECT_EQ(iconDifference(committed, qx::drawProgramIcon(size)), "")
            << "regenerate with: qx_icon app/linux/icons (" << size << ")";
    }
}

// One colour channel of one pixel moved by `levels` (kept within 0..255 and the alpha).
QImage nudged(const QImage& image, int x, int y, int levels) {
    QImage out = premultiplied(image);
    const QRgb p = out.pixel(x, y);
    const int green = std::clamp(qGreen(p) + levels, 0, qAlpha(p));
    out.setPixel(x, y, qRgba(qRed(p), green, qBlue(p), qAlpha(p)));
    return out;
}

// What another processor's rounding does passes; what a change to the drawing does fails.
TEST(ProgramIcon, ToleranceTakesRoundingButNotAChange) {
    const QImage committed(QStringLiteral(QX_ICON_DIR "/qx77zt-48.png"));
    ASSERT_FALSE(committed.isNull());
    const QImage drawn = qx::drawProgramIcon(48);

    // The AVX-512 case: one pixel of the drawing one level off.
    EXPECT_EQ(iconDifference(committed, nudged(drawn, 24, 30, 1)), "");
    EXPECT_EQ(iconDifference(committed, nudged(drawn, 24, 30, -1)), "");
    // Every pixel of the panel's face a level or two off still passes.
    QImage faintly = premultiplied(drawn);
    for (int y = 0; y < faintly.height(); ++y) {
        for (int x = 0; x < faintly.width(); ++x) {
            const QRgb p = faintly.pixel(x, y);
            if (qAlpha(p) == 255 && qRed(p) >= 2) {
                faintly.setPixel(x, y, qRgba(qRed(p) - 2, qGreen(p), qBlue(p), 255));
            }
        }
    }
    EXPECT_EQ(iconDifference(committed, faintly), "");

    // A single pixel three levels off is a change.
    EXPECT_NE(iconDifference(committed, nudged(drawn, 24, 30, 3)), "");
    // So is a drawing one pixel to the side, another size, or a mark drawn over it.
    QImage shifted(drawn.size(), QImage::Format_ARGB32_Premultiplied);
    shifted.fill(Qt::transparent);
    {
        QPainter p(&shifted);
        p.drawImage(1, 0, drawn);
    }
    EXPECT_NE(iconDifference(committed, shifted), "");
    EXPECT_NE(iconDifference(committed, qx::drawProgramIcon(64)), "");
    QImage marked = premultiplied(drawn);
    {
        QPainter p(&marked);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 255, 255, 40), 1));
        p.drawLine(QPointF(10, 20), QPointF(30, 22));
    }
    EXPECT_NE(iconDifference(committed, marked), "");
}

} // namespace
