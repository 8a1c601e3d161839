// SPDX-License-Identifier: GPL-3.0-or-later
// What the "Level history" window shows, as plain values: which stretch of time is in view
// (scrolled and zoomed, or following the newest reading), and the readings of that stretch
// gathered into one column per pixel, so that a peak or an over shorter than a pixel still
// shows and drawing costs the same whatever the zoom.
#pragma once

#include "levels/LevelRing.h"

#include <cstdint>
#include <vector>

namespace qx::levels {

class HistoryView {
public:
    static constexpr int64_t kMinSpanMs = 10'000;
    static constexpr int64_t kMaxSpanMs = LevelRing::kSpan.count();

    int64_t spanMs() const { return spanMs_; }
    bool live() const { return live_; }
    // The right edge of the view in steady ms.
    int64_t endMs(int64_t nowMs) const { return live_ ? nowMs : endMs_; }
    int64_t startMs(int64_t nowMs) const { return endMs(nowMs) - spanMs_; }

    // Narrows (factor < 1) or widens the view around its right edge, within 10 s to 10 min.
    void zoom(double factor);
    // Moves the right edge by `ms`, staying between the oldest reading's time plus nothing and
    // `nowMs`; reaching `nowMs` follows the readings again.
    void scrollBy(int64_t ms, int64_t nowMs, int64_t oldestMs);
    void scrollTo(int64_t endMs, int64_t nowMs, int64_t oldestMs);
    void follow() { live_ = true; }

private:
    int64_t spanMs_ = 2 * 60'000;
    int64_t endMs_ = 0;
    bool live_ = true;
};

struct ChannelColumn {
    bool has = false;
    int8_t min = 0;
    int8_t max = 0;
    int8_t first = 0; // the column's earliest reading, where a line from the left comes in
    int8_t last = 0;
    bool over = false;
};

struct HistoryColumn {
    ChannelColumn left;
    ChannelColumn right;
    // The readings stopped here for longer than LevelRing::kGapAfter.
    bool gap = false;
    // The line must not join this column's readings to those of the column before.
    bool breakBefore = false;
};

// The readings from `startMs` to `endMs` (steady ms) in `columns` columns. The time after the
// newest reading up to `nowMs` counts as a gap once it is longer than LevelRing::kGapAfter.
std::vector<HistoryColumn> gatherColumns(const LevelRing& ring, int64_t startMs, int64_t endMs,
                                         int columns, int64_t nowMs);

} // namespace qx::levels
