// SPDX-License-Identifier: GPL-3.0-or-later
// The plot of the "Level history" window: both channels against time on the meters' own scale
// (linear in level steps, labelled in dB), with 0 dB and the over region marked, overs and the
// highest reading in view shown, and gaps where no readings came.
#pragma once

#include "levels/HistoryView.h"
#include "levels/LevelMeters.h"

#include <QWidget>

namespace qx::levels {

// Draws the plot of `view` into `bounds`; the window and the PNG export both use it.
void paintHistory(QPainter& p, const QRect& bounds, const LevelRing& ring, const HistoryView& view,
                  const Instant& now);

// A reading as the plot labels it: the meters' dB text, with "+" above 0 dB.
QString plotReading(int level);

// Where the plot writes the unit of its scale and the label of a level, for text `textHeight`
// pixels high in a plot whose area inside the margins is `area`.
QRect unitLabelRect(const QRect& area, int textHeight);
QRect levelLabelRect(const QRect& area, int level, int textHeight);

// What the exported picture says above the plot: the unit, and the stretch of time in view with
// its date and the offset from UTC.
struct HistoryCaption {
    QString unit;  // empty: none named
    QString range; // "2026-12-10 15:40:27 to 15:42:27 (UTC+01:00)"
};
HistoryCaption historyCaption(const QString& unit, const HistoryView& view, const Instant& now);

// The picture the PNG export writes: the caption, then the plot at `plotSize` as the window
// shows it.
QImage historyImage(const QSize& plotSize, const QFont& font, const QString& unit,
                    const LevelRing& ring, const HistoryView& view, const Instant& now);

// What a screen reader is told about the plot: the stretch in view, each channel's highest
// reading and overs, and the gaps.
QString historySummary(const LevelRing& ring, const HistoryView& view, const Instant& now);

class HistoryPlot : public QWidget {
    Q_OBJECT
public:
    HistoryPlot(const LevelRing& ring, TimeSource now, QWidget* parent = nullptr);

    const LevelRing& ring() const { return ring_; }
    HistoryView& view() { return view_; }
    const HistoryView& view() const { return view_; }
    // Zoom and scroll steps, also used by the window's buttons; each repaints and reports.
    void zoomIn();
    void zoomOut();
    void scrollBy(int64_t ms);
    void scrollTo(int64_t endMs);
    void follow();
    Instant now() const { return now_(); }
    int64_t oldestMs() const;
    // The plot as an image of its present size, below a caption naming `unit` and the time in
    // view.
    QImage image(const QString& unit = {}) const;

signals:
    void viewChanged();

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    void changed();

    const LevelRing& ring_;
    TimeSource now_;
    HistoryView view_;
};

} // namespace qx::levels
