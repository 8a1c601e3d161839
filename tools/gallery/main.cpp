// SPDX-License-Identifier: GPL-3.0-or-later
// Renders every painting style with every colour scheme in the up, hot, down and disabled states,
// without and with a glyph, into one PNG.
#include "HSButtons.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <QTextStream>

#include <array>

namespace {

constexpr int kW = 96;
constexpr int kH = 49;
constexpr int kCellW = kW + 12;
constexpr int kCellH = kH + 10;
constexpr int kLabelW = 150;
constexpr int kHeaderH = 24;

// Four 16 x 16 cells (up, disabled, down, hot) on a teal background that is keyed out.
QImage SampleGlyph() {
    QImage strip(64, 16, QImage::Format_RGB32);
    strip.fill(QColor(0, 128, 128));
    QPainter p(&strip);
    const std::array<QColor, 4> colours = {QColor(0, 0, 160), QColor(128, 128, 128),
                                           QColor(200, 0, 0), QColor(0, 150, 0)};
    for (int i = 0; i < 4; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(colours[std::size_t(i)]);
        p.drawEllipse(QRect(i * 16 + 2, 2, 12, 12));
    }
    return strip;
}

QString StyleName(THSButtonStyle s) {
    static const char* const names[] = {"bsNormal", "bsEncarta", "bsModern", "bsOld",
                                        "bsShape",  "bsQuicken", "bsGlass"};
    return QString::fromLatin1(names[s]);
}

QString SchemeName(THSColorStyle s) {
    static const char* const names[] = {"lcsChrome", "lcsGreen", "lcsRed", "lcsGold", "lcsBlue"};
    return QString::fromLatin1(names[s]);
}

QFont ButtonFont() {
    const QString family = QFontDatabase::families().contains(QStringLiteral("Tahoma"))
                               ? QStringLiteral("Tahoma")
                               : QStringLiteral("DejaVu Sans");
    QFont font(family);
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

} // namespace

int main(int argc, char** argv) {
    // Nothing here needs a display; test discovery runs without the offscreen setting too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: qx_gallery <out.png>\n";
        return 2;
    }
    const QImage glyph = SampleGlyph();
    const QFont font = ButtonFont();
    const char* const stateNames[] = {"up", "hot", "down", "disabled"};
    constexpr int kStates = 4;
    constexpr int kRows = 7 * 5;
    QImage sheet(kLabelW + 2 * kStates * kCellW, kHeaderH + kRows * kCellH, QImage::Format_RGB32);
    sheet.fill(QColor(236, 236, 236));
    QPainter out(&sheet);
    out.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    for (int g = 0; g < 2; ++g) {
        for (int st = 0; st < kStates; ++st) {
            const QString head =
                QString::fromLatin1(stateNames[st]) + (g ? QStringLiteral(" + glyph") : QString());
            out.drawText(QRect(kLabelW + (g * kStates + st) * kCellW, 0, kCellW, kHeaderH),
                         Qt::AlignCenter, head);
        }
    }
    int row = 0;
    for (int style = bsNormal; style <= bsGlass; ++style) {
        for (int scheme = lcsChrome; scheme <= lcsBlue; ++scheme, ++row) {
            const int y = kHeaderH + row * kCellH;
            out.drawText(QRect(4, y, kLabelW - 8, kH), Qt::AlignVCenter | Qt::AlignLeft,
                         StyleName(THSButtonStyle(style)) + QLatin1Char(' ') +
                             SchemeName(THSColorStyle(scheme)));
            const THSColorScheme colours = GetColorScheme(THSColorStyle(scheme));
            for (int g = 0; g < 2; ++g) {
                for (int st = 0; st < kStates; ++st) {
                    THSButtonPaintState s;
                    s.width = kW;
                    s.height = kH;
                    s.caption = QStringLiteral("&Mute");
                    s.font = font;
                    s.color = colours.face;
                    s.lightColor = colours.light;
                    s.shadowColor = colours.shadow;
                    s.colorWhenDown = colours.down;
                    s.hotTrackColor = colours.hot;
                    s.fontColor = colours.fontColor;
                    s.style = THSButtonStyle(style);
                    s.border = style == bsModern || style == bsGlass || style == bsQuicken ? 4 : 1;
                    s.palette = app.palette();
                    s.hot = st == 1;
                    s.hotTrackStep = st == 1 ? 8 : 0;
                    s.down = st == 2;
                    s.enabled = st != 3;
                    if (g == 1) {
                        s.glyph = glyph;
                        s.numGlyphs = 4;
                    }
                    const QImage button = KeyOutColor(RenderButtonImage(s), TransparentKey);
                    out.drawImage(kLabelW + (g * kStates + st) * kCellW + 6, y + 5, button);
                }
            }
        }
    }
    out.end();
    if (!sheet.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        QTextStream(stderr) << "cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
