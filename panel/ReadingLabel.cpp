// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/ReadingLabel.h"

#include <QEvent>
#include <QPainter>

#include <cmath>

namespace qx::panel {

namespace {

// Text drawn into a picture at a fractional scale lands on other pixels than text drawn in place.
bool wholeScale(const QWidget& w) {
    const qreal ratio = w.devicePixelRatioF();
    return ratio == std::floor(ratio);
}

} // namespace

void ReadingLabel::showReading(const QString& reading) {
    setText(reading);
    // Without its own background the drawing would depend on what lies beneath.
    if (!autoFillBackground() || !isVisible() || !wholeScale(*this) ||
        drawings_.contains(reading)) {
        return;
    }
    if (drawings_.size() >= kKeptDrawings) {
        drawings_.clear();
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap drawing(size() * ratio);
    drawing.setDevicePixelRatio(ratio);
    drawingItself_ = true;
    render(&drawing); // the background fill and the text, as on screen
    drawingItself_ = false;
    drawings_.insert(reading, drawing);
}

void ReadingLabel::paintEvent(QPaintEvent* e) {
    // Marked opaque, a label with its own background is left to fill it here: Qt would start a
    // painter of its own for the fill, and a drawing from the cache covers the box anyway.
    const bool fillsItself = autoFillBackground() && testAttribute(Qt::WA_OpaquePaintEvent);
    if (fillsItself && !drawingItself_ && wholeScale(*this)) {
        const auto drawing = drawings_.constFind(text());
        if (drawing != drawings_.cend()) {
            QPainter(this).drawPixmap(0, 0, *drawing);
            return;
        }
    }
    if (fillsItself) {
        QPainter(this).fillRect(rect(), palette().brush(backgroundRole()));
    }
    QLabel::paintEvent(e);
}

void ReadingLabel::changeEvent(QEvent* e) {
    switch (e->type()) {
    // Anything that changes how a text looks: its colours (also the over colour and the greying
    // of stale readings), the window becoming active or not, the font, the style.
    case QEvent::PaletteChange:
    case QEvent::EnabledChange:
    case QEvent::ActivationChange:
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
        drawings_.clear();
        break;
    default:
        break;
    }
    QLabel::changeEvent(e);
}

void ReadingLabel::resizeEvent(QResizeEvent* e) {
    drawings_.clear();
    QLabel::resizeEvent(e);
}

} // namespace qx::panel
