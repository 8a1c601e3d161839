// What the main window's two meters remember: a peak marker drawn inside each bar box, the over
// latch that turns a reading label red until the operator clicks it (or the bar, or presses
// Space on the focused bar), and the level history the "Level history" window shows.
//
// User interface thread only: fed by the window's redraw with the levels it has just shown.
#pragma once

#include "levels/LevelRing.h"
#include "levels/OverLatch.h"
#include "levels/PeakHold.h"

#include <QObject>
#include <QPalette>
#include <QRect>
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

// Sits exactly over one bar box, above the bar, and draws the peak marker and a focus mark;
// a click, Space or Return clears the over latch of its channel.
class MeterOverlay : public QWidget {
    Q_OBJECT
public:
    MeterOverlay(LevelMeters& meters, int channel, QWidget* parent);

    int channel() const { return channel_; }
    // Left edge of the marker in the box, or nullopt while none shows.
    std::optional<int> markerX() const { return markerX_; }
    void setMarkerX(std::optional<int> x);
    // What a screen reader says after the name.
    QString valueText() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    LevelMeters& meters_;
    int channel_;
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
        QRect barBox;  // in the panel's coordinates
        QLabel* label; // the reading
        QString side;  // "Left", "Right"
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

    const LevelRing& history() const { return history_; }
    const OverLatch& latch(int channel) const { return channels_.at(channelIndex(channel)).latch; }
    std::optional<double> peakDb(int channel) const;
    int level(int channel) const { return channels_.at(channelIndex(channel)).level; }
    MeterOverlay* overlay(int channel) const;
    QString sentence(int channel) const;
    // Whether the reading label shows live readings (it is greyed while they are stale).
    bool readingEnabled(int channel) const;
    QString overToolTip(int channel) const;
    Instant now() const { return now_(); }

signals:
    // A reading was added to the history.
    void historyChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    struct Channel {
        QString side;
        QLabel* label = nullptr;
        MeterOverlay* overlay = nullptr;
        PeakHold peak;
        std::optional<double> peakDb;
        OverLatch latch;
        bool shownRed = false;
        QPalette labelPalette;
        int level = -128;
    };
    static std::size_t channelIndex(int channel);
    void showLatch(Channel& c);
    void updateAccessibleValue(Channel& c);

    std::array<Channel, 2> channels_;
    LevelRing history_;
    TimeSource now_ = systemNow;
    LevelHistoryWindow* historyWindow_ = nullptr;
};

} // namespace qx::levels
