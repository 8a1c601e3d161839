// SPDX-License-Identifier: GPL-3.0-or-later
// What the meters of one unit remember between readings: each channel's peak marker, over latch
// and last level, and the level history. Plain C++: kept for every unit, shown or not, so that an
// over on a unit nobody is looking at stays latched until it is acknowledged.
#pragma once

#include "levels/LevelRing.h"
#include "levels/OverLatch.h"
#include "levels/PeakHold.h"

#include <array>
#include <optional>

namespace qx::levels {

struct ChannelMemory {
    PeakHold peak;
    std::optional<double> peakDb; // the marker at the last reading
    OverLatch latch;
    int level = -128;
};

struct LevelMemory {
    std::array<ChannelMemory, 2> channels;
    LevelRing history;

    // Notes one answer's levels taken at `mono` and `wall`. Returns, per channel, whether this
    // reading set its over latch.
    std::array<bool, 2> note(int left, int right, PeakHold::Clock::time_point mono,
                             OverLatch::WallClock::time_point wall);
    bool anyOver() const { return channels[0].latch.latched() || channels[1].latch.latched(); }
};

} // namespace qx::levels
