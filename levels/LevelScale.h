// SPDX-License-Identifier: GPL-3.0-or-later
// The meter's level steps as numbers: the dB value of each reading, and the position of any dB
// value on the bar, which is linear in level steps, not in dB.
#pragma once

#include <optional>

namespace qx::levels {

// The top of the table: the reading "8", the end of the bar. Reaching it is an over.
inline constexpr int kOverLevel = 13;
// The lowest level with a bar; anything lower shows "-52" and no bar.
inline constexpr int kLowestBarLevel = -35;

// The reading of `level` in dB: -52 for every level up to -35, nullopt above the table.
std::optional<double> levelDb(int level);

// The (fractional) level at which the bar reaches `db`, interpolating between the readings;
// clamped to -35..13.
double levelForDb(double db);

// The bar's length in pixels for a fractional level, like the bar itself ((level + 36) / 48 of
// 154 pixels), unrounded and not clipped.
double barPosition(double level);

} // namespace qx::levels
