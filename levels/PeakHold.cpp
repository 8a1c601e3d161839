// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/PeakHold.h"

#include <algorithm>

namespace qx::levels {

double PeakHold::heldAt(const Reading& r, Clock::time_point t) {
    const auto age = t - r.t;
    if (age <= kHold) {
        return r.db;
    }
    const double falling = std::chrono::duration<double>(age - kHold).count();
    return r.db - falling * kFallDbPerSecond;
}

void PeakHold::add(Clock::time_point t, double db) {
    if (!candidates_.empty() && t < candidates_.back().t) {
        return;
    }
    // A later reading at least as high outlasts every earlier one it matches.
    while (!candidates_.empty() && candidates_.back().db <= db) {
        candidates_.pop_back();
    }
    candidates_.push_back({t, db});
}

std::optional<double> PeakHold::at(Clock::time_point t) {
    t = candidates_.empty() ? t : std::max(t, candidates_.back().t);
    // Once a newer reading has caught up with an older one the older one stays below it (when
    // both fall, the distance between them is constant), so it can go.
    double best = kFloorDb - 1;
    for (std::size_t i = candidates_.size(); i-- > 0;) {
        const double held = heldAt(candidates_[i], t);
        if (held <= best) {
            candidates_.erase(candidates_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            best = held;
        }
    }
    if (best < kFloorDb) {
        candidates_.clear();
        return std::nullopt;
    }
    return best;
}

} // namespace qx::levels
