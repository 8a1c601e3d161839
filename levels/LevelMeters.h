// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window's two meters remember: a peak marker drawn inside each bar box, the over
// latch that turns a reading label red until the operator clicks it (or the bar, or presses
// Space on the focused bar), and the level history the "Level history" window shows.
//
// User interface thread only: fed by the window's redraw with the levels it has just shown.
#pragma once

#include "levels/LevelMemory.h"
#include "levels/LevelRing.h"
#include "levels/OverLatch.h"
#include "levels/PeakHold.h"
#include "levels/ReadingAnnouncer.h"

#include <QObject>
#include <QPalette>
#include <QPixmap>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QLabel;

namespace qx {
class Dialogs;
}

namespace qx::levels {

class LevelHistoryWindow;

// One moment on both clocks; tests drive a fake one.
struct Instant {
    PeakHold::Clock::time_point mono;
    OverLatch::WallClock::time_point wall;
};
using TimeSource = std::function<Instant()>;
Instant systemNow();

int64_t toMs(PeakHold::Clock::time_point t);
int64_t toMs(OverLatch::WallClock::time_point t);

class LevelMeters;

// One meter: draws its background picture, the bar picture up to the level's width, the peak
// marker and a focus mark, all in one opaque box, so that a moving level repaints this widget
// alone. A click, Space or Return clears the over latch of its channel.
class MeterBar : public QWidget {
    Q_OBJECT
public:
    // `bar` and `background` are the boxes of the two pictures in the parent's coordinates; the
    // widget covers both.
    MeterBar(LevelMeters& meters, int channel, const QRect& bar, const QPixmap& barPicture,
             const QRect& background, const QPixmap& backgroundPicture, QWidget* parent);

    int channel() const { return channel_; }
    // The bar's box in this widget's coordinates; marker positions are counted from its left.
    QRect barBox() const { return barBox_; }
    // How much of the bar picture shows, from the left edge of the bar box.
    int barWidth() const { return barWidth_; }
    void setBarWidth(int width);
    // Greys the bar while it shows a reading the unit no longer confirms.
    bool stale() const { return stale_; }
    void setStale(bool stale);
    // Left edge of the marker in the bar box, or nullopt while none shows.
    std::optional<int> markerX() const { return markerX_; }
    void setMarkerX(std::optional<int> x);
    // What a screen reader says after the name.
    QString valueText() const;
    // The reading in dB; the lowest reading while there is none.
    double valueDb() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    QRect strip(int from, int to) const;
    // The colour of what lies beneath where the background picture does not reach.
    QBrush panelBrush() const;

    LevelMeters& meters_;
    int channel_;
    QRect barBox_;
    QRect backgroundBox_;
    QRegion besideBackground_;
    QPixmap bar_;
    QPixmap background_;
    // The pictures as drawn at the scale they were last drawn at.
    qreal scaledFor_ = 0;
    QPixmap scaledBar_;
    QPixmap scaledBackground_;
    int barWidth_;
    bool stale_ = false;
    std::optional<int> markerX_;
    bool keyboardFocus_ = false;
};

class LevelMeters : public QObject {
    Q_OBJECT
public:
    static constexpr int kLeft = 0;
    static constexpr int kRight = 1;
    static constexpr int kMarkerWidth = 2;

    struct Meter {
        QRect barBox; // in the panel's coordinates
        QPixmap bar;  // shown unscaled from the bar box's left edge, as wide as the level
        QRect backgroundBox;
        QPixmap background; // opaque; shown unscaled from the box's left edge
        QLabel* label;      // the reading
        QString side;       // "Left", "Right"
    };

    LevelMeters(QWidget* panel, const Meter& left, const Meter& right);

    void setTimeSource(TimeSource now) { now_ = std::move(now); }

    // The levels both meters show now (each within the level table).
    void show(int left, int right);
    // Acknowledges the over of one channel: its label returns to its own colour.
    void clearOver(int channel);
    // Opens the "Level history" window (made on first use, as a window of `owner`) or brings it
    // forward.
    void showHistory(QWidget* owner, Dialogs& dialogs);
    LevelHistoryWindow* historyWindow() const { return historyWindow_; }

    const LevelRing& history() const { return memory_->history; }
    const OverLatch& latch(int channel) const {
        return memory_->channels.at(channelIndex(channel)).latch;
    }
    std::optional<double> peakDb(int channel) const;
    int level(int channel) const { return memory_->channels.at(channelIndex(channel)).level; }
    // Shows and feeds `memory` (a unit's, kept elsewhere) from now on; nullptr goes back to the
    // meters' own. Markers, latches and the history follow the unit the window shows.
    void attachMemory(LevelMemory* memory);
    const LevelMemory& memory() const { return *memory_; }
    // The name of the unit whose memory is shown, after the history window's caption; empty:
    // the caption alone.
    void setUnitName(const QString& name);
    MeterBar* meter(int channel) const;
    QString sentence(int channel) const;
    // Whether the reading label shows live readings (it is greyed while they are stale).
    bool readingEnabled(int channel) const;
    QString overToolTip(int channel) const;
    Instant now() const { return now_(); }

signals:
    // A reading was added to the history.
    void historyChanged();
    // A screen reader was told of a changed reading of `channel` (at most about once a second,
    // at once when an over starts or is cleared).
    void readingTold(int channel);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct Channel {
        QString side;
        QLabel* label = nullptr;
        MeterBar* meter = nullptr;
        bool shownRed = false;
        QPalette labelPalette;
        ReadingAnnouncer announcer;
    };
    static std::size_t channelIndex(int channel);
    void showLatch(Channel& c);
    // Puts the marker of channel `ch` where its memory holds it.
    void showMarker(std::size_t ch);
    // Tells a screen reader of a changed reading, when the announcer lets it.
    void updateAccessibleValue(Channel& c, PeakHold::Clock::time_point now,
                               ReadingAnnouncer::Urgency urgency);

    std::array<Channel, 2> channels_;
    QString unitName_;
    LevelMemory own_;
    LevelMemory* memory_ = &own_; // never null
    TimeSource now_ = systemNow;
    LevelHistoryWindow* historyWindow_ = nullptr;
};

} // namespace qx::levels
