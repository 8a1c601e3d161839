// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/HistoryView.h"

#include <algorithm>
#include <cmath>

namespace qx::levels {

void HistoryView::zoom(double factor) {
    const auto span = static_cast<int64_t>(std::llround(static_cast<double>(spanMs_) * factor));
    spanMs_ = std::clamp(span, kMinSpanMs, kMaxSpanMs);
}

void HistoryView::scrollBy(int64_t ms, int64_t nowMs, int64_t oldestMs) {
    scrollTo(endMs(nowMs) + ms, nowMs, oldestMs);
}

void HistoryView::scrollTo(int64_t endMs, int64_t nowMs, int64_t oldestMs) {
    // The view never leaves the recorded ten minutes nor runs ahead of now.
    const int64_t earliest = std::max(oldestMs, nowMs - kMaxSpanMs) + spanMs_;
    endMs = std::max(endMs, earliest);
    live_ = endMs >= nowMs;
    if (!live_) {
        endMs_ = endMs;
    }
}

namespace {

void addReading(ChannelColumn& c, int8_t level) {
    if (!c.has) {
        c = {true, level, level, level, level, false};
    } else {
        c.min = std::min(c.min, level);
        c.max = std::max(c.max, level);
        c.last = level;
    }
    c.over = c.over || level == 13;
}

} // namespace

std::vector<HistoryColumn> gatherColumns(const LevelRing& ring, int64_t startMs, int64_t endMs,
                                         int columns, int64_t nowMs) {
    std::vector<HistoryColumn> out(static_cast<std::size_t>(std::max(columns, 0)));
    const int64_t span = endMs - startMs;
    if (out.empty() || span <= 0) {
        return out;
    }
    const auto column = [&](int64_t t) {
        // Floor division keeps times left of the view left of column 0.
        const int64_t scaled = (t - startMs) * columns;
        return scaled >= 0 ? scaled / span : (scaled - span + 1) / span;
    };
    const auto markGap = [&](int64_t from, int64_t to) {
        const int64_t a = std::max<int64_t>(column(from), 0);
        const int64_t b = std::min<int64_t>(column(to), columns - 1);
        for (int64_t c = a; c <= b; ++c) {
            out[static_cast<std::size_t>(c)].gap = true;
        }
    };

    // From one reading before the view, so a gap that began left of it shows too.
    std::size_t i = ring.lowerBound(startMs);
    if (i > 0) {
        --i;
    }
    int64_t previousColumn = -1;
    for (; i < ring.size(); ++i) {
        const LevelSample& s = ring[i];
        if (s.monoMs >= endMs) {
            break;
        }
        const bool gap = ring.gapBefore(i);
        if (gap) {
            markGap(ring[i - 1].monoMs, s.monoMs);
        }
        const int64_t c = column(s.monoMs);
        if (c < 0) {
            continue;
        }
        HistoryColumn& col = out[static_cast<std::size_t>(c)];
        if (c != previousColumn) {
            col.breakBefore = gap;
        }
        previousColumn = c;
        addReading(col.left, s.left);
        addReading(col.right, s.right);
    }
    if (!ring.empty() && nowMs - ring.newest().monoMs > LevelRing::kGapAfter.count()) {
        markGap(ring.newest().monoMs, nowMs);
    }
    return out;
}

} // namespace qx::levels
