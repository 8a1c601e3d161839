// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/OverLatch.h"

#include "levels/LevelScale.h"

namespace qx::levels {

bool OverLatch::note(int level, WallClock::time_point when) {
    if (level != kOverLevel) {
        return false;
    }
    const bool setsLatch = !first_;
    if (setsLatch) {
        first_ = when;
    }
    last_ = when;
    ++count_;
    return setsLatch;
}

} // namespace qx::levels
