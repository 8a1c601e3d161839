// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/UnitMeterModel.h"

#include "levels/LevelScale.h"

#include <algorithm>

namespace qx::units {

namespace {

constexpr double kSteps = levels::kOverLevel - levels::kLowestBarLevel + 1;

double shareOf(double level) {
    return std::clamp((level - levels::kLowestBarLevel + 1) / kSteps, 0.0, 1.0);
}

} // namespace

double barShare(int level) {
    return level < levels::kLowestBarLevel ? 0.0 : shareOf(level);
}

std::optional<double> peakShare(const levels::ChannelMemory& channel) {
    if (!channel.peakDb) {
        return std::nullopt;
    }
    return shareOf(levels::levelForDb(*channel.peakDb));
}

} // namespace qx::units
