// SPDX-License-Identifier: GPL-3.0-or-later
// A label for a meter's reading: it fills its own box and shows a handful of short texts over and
// over, ten times a second. Each text is laid out and drawn once, when it is first shown;
// afterwards it is painted from that drawing, which is what the label would draw anyway. With its
// own background (autoFillBackground) and marked opaque (WA_OpaquePaintEvent) it fills that
// background itself.
#pragma once

#include <QHash>
#include <QLabel>
#include <QPixmap>

namespace qx::panel {

class ReadingLabel : public QLabel {
    Q_OBJECT
public:
    // More than the distinct readings a moving level shows; beyond that the drawings start anew.
    static constexpr qsizetype kKeptDrawings = 256;

    using QLabel::QLabel;

    // setText, with the drawing of the text made now if there is none yet (a widget cannot draw
    // itself into a picture while it paints).
    void showReading(const QString& reading);

protected:
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QHash<QString, QPixmap> drawings_;
    bool drawingItself_ = false;
};

} // namespace qx::panel
