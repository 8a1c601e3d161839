// SPDX-License-Identifier: GPL-3.0-or-later
#include "IconDrawing.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qx {

QImage drawProgramIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // Panel.
    QPainterPath panel;
    panel.addRoundedRect(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88), s * 0.14, s * 0.14);
    QLinearGradient face(0, 0, 0, s);
    face.setColorAt(0, QColor(74, 78, 84));
    face.setColorAt(1, QColor(36, 38, 42));
    p.fillPath(panel, face);
    p.setPen(QPen(QColor(20, 20, 22), qMax<qreal>(1.0, s / 64)));
    p.drawPath(panel);

    // Two meter wells with bars rising green through yellow to red, as on the main window.
    QLinearGradient meter(0, s * 0.80, 0, s * 0.20);
    meter.setColorAt(0.00, QColor(42, 161, 0));
    meter.setColorAt(0.55, QColor(176, 221, 0));
    meter.setColorAt(0.72, QColor(228, 221, 0));
    meter.setColorAt(0.75, QColor(255, 112, 0));
    meter.setColorAt(1.00, QColor(255, 0, 0));
    const qreal wellW = s * 0.22;
    const qreal wellTop = s * 0.18;
    const qreal wellBottom = s * 0.82;
    const qreal levels[] = {0.82, 0.62};
    const qreal lefts[] = {s * 0.22, s * 0.56};
    for (int i = 0; i < 2; ++i) {
        const QRectF well(lefts[i], wellTop, wellW, wellBottom - wellTop);
        p.fillRect(well, QColor(151, 151, 151));
        const qreal top = wellBottom - (wellBottom - wellTop) * levels[i];
        p.fillRect(QRectF(well.left(), top, wellW, wellBottom - top), meter);
    }
    return image;
}

} // namespace qx
