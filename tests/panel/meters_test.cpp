// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures the window carries are the ones qx_meters makes, and they look as described.
#include "MeterImages.h"

#include <QImage>

#include <gtest/gtest.h>

namespace qx {
namespace {

QImage argb(const QImage& img) {
    return img.convertToFormat(QImage::Format_ARGB32);
}

TEST(MeterPictures, CommittedFilesEqualWhatTheToolMakes) {
    const QString dir = QStringLiteral(QX_PANEL_METERS_DIR);
    const QImage back(dir + QStringLiteral("/meter_back.png"));
    const QImage bar(dir + QStringLiteral("/meter_bar.png"));
    ASSERT_FALSE(back.isNull());
    ASSERT_FALSE(bar.isNull());
    EXPECT_EQ(argb(back), argb(meters::backgroundImage()))
        << "re-create with: qx_meters panel/meters";
    EXPECT_EQ(argb(bar), argb(meters::barImage())) << "re-create with: qx_meters panel/meters";
    // The window loads the same files from its resources.
    EXPECT_EQ(argb(QImage(QStringLiteral(":/meters/indl.png"))), argb(bar));
    EXPECT_EQ(argb(QImage(QStringLiteral(":/meters/imgr.png"))), argb(back));
}

TEST(MeterPictures, ColoursAndEdges) {
    const QImage back = argb(meters::backgroundImage());
    EXPECT_EQ(back.size(), QSize(200, 10));
    EXPECT_EQ(back.pixel(199, 9), qRgba(151, 151, 151, 255));

    const QImage bar = argb(meters::barImage());
    ASSERT_EQ(bar.size(), QSize(154, 10));
    struct Row {
        int column, red, green;
    };
    for (const Row r : {Row{0, 42, 161}, Row{48, 92, 185}, Row{111, 228, 221}, Row{112, 233, 220},
                        Row{115, 255, 112}, Row{145, 255, 7}, Row{153, 255, 0}}) {
        for (int y = 0; y < 10; ++y) {
            const QRgb p = bar.pixel(r.column, y);
            EXPECT_EQ(qRed(p), r.red) << r.column;
            EXPECT_EQ(qGreen(p), r.green) << r.column;
            EXPECT_EQ(qBlue(p), 0);
            EXPECT_EQ(qAlpha(p), y == 0 || y == 9 ? 242 : 255) << y;
        }
    }
    // Between the listed columns the colour moves smoothly (the largest step is 114 to 115).
    for (int x = 1; x < 154; ++x) {
        const QRgb a = bar.pixel(x - 1, 5);
        const QRgb b = bar.pixel(x, 5);
        EXPECT_LE(std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)), 48) << x;
    }
}

} // namespace
} // namespace qx
