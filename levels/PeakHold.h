// SPDX-License-Identifier: GPL-3.0-or-later
// The peak marker of one meter: every reading holds for two seconds, then falls at a steady
// rate; the marker is the highest of these at any moment. So it shows the highest reading of the
// last two seconds, and after that falls back smoothly instead of jumping to the next one.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

namespace qx::levels {

class PeakHold {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kHold{2000};
    // About 20 dB in 1.7 s.
    static constexpr double kFallDbPerSecond = 20.0 / 1.7;
    // Below the lowest reading the marker is gone.
    static constexpr double kFloorDb = -52.0;

    // A reading of `db` at `t`. Readings must come in time order; an earlier one is ignored.
    void add(Clock::time_point t, double db);
    // The marker at `t` (not before the last reading), or nullopt when it has fallen below the
    // lowest reading or nothing was read.
    std::optional<double> at(Clock::time_point t);
    void clear() { candidates_.clear(); }

private:
    struct Reading {
        Clock::time_point t;
        double db;
    };
    static double heldAt(const Reading& r, Clock::time_point t);

    // Readings that may still become the marker: times rise and values fall from front to
    // back, so there are never more than there are distinct readings.
    std::vector<Reading> candidates_;
};

} // namespace qx::levels
