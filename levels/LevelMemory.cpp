// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/LevelMemory.h"

#include "levels/LevelScale.h"

#include <chrono>

namespace qx::levels {

namespace {

template <typename TimePoint>
int64_t msOf(TimePoint t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

} // namespace

std::array<bool, 2> LevelMemory::note(int left, int right, PeakHold::Clock::time_point mono,
                                      OverLatch::WallClock::time_point wall) {
    const int levels[] = {left, right};
    std::array<bool, 2> overBegan{};
    for (std::size_t ch = 0; ch < 2; ++ch) {
        ChannelMemory& c = channels[ch];
        c.level = levels[ch];
        // Below the lowest reading there is no bar, and nothing to hold.
        if (c.level >= kLowestBarLevel) {
            c.peak.add(mono, levelDb(c.level).value_or(PeakHold::kFloorDb));
        }
        c.peakDb = c.peak.at(mono);
        const bool wasOver = c.latch.latched();
        c.latch.note(c.level, wall);
        overBegan[ch] = !wasOver && c.latch.latched();
    }
    history.add({msOf(mono), msOf(wall), static_cast<int8_t>(left), static_cast<int8_t>(right)});
    return overBegan;
}

} // namespace qx::levels
