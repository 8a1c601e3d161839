// SPDX-License-Identifier: GPL-3.0-or-later
// The over latch of one meter: set when the channel reaches the top of the table and kept,
// however the level falls, until the operator acknowledges it.
#pragma once

#include <chrono>
#include <optional>

namespace qx::levels {

class OverLatch {
public:
    using WallClock = std::chrono::system_clock;

    // Notes a reading of `level` taken at `when`. Returns true when this reading set the latch.
    bool note(int level, WallClock::time_point when);
    void clear() { *this = OverLatch{}; }

    bool latched() const { return first_.has_value(); }
    // The first and the latest over since the latch was last cleared, and how many readings
    // were overs.
    std::optional<WallClock::time_point> first() const { return first_; }
    std::optional<WallClock::time_point> last() const { return last_; }
    int count() const { return count_; }

private:
    std::optional<WallClock::time_point> first_;
    std::optional<WallClock::time_point> last_;
    int count_ = 0;
};

} // namespace qx::levels
