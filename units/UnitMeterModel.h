// SPDX-License-Identifier: GPL-3.0-or-later
// How a unit's levels are drawn in the unit lists: the share of a bar a level fills, as on the
// main window's meters (linear in level steps), and the colours of a latched over.
#pragma once

#include "levels/LevelMemory.h"

#include <QColor>

#include <optional>

namespace qx::units {

// 0 for no bar, 1 for a bar at the top of the table.
double barShare(int level);
// Where the peak marker stands, as a share of the bar; nullopt while there is none.
std::optional<double> peakShare(const levels::ChannelMemory& channel);

inline const QColor kBarColour{0x2e, 0xb8, 0x4b};
inline const QColor kOverColour{0xe0, 0x20, 0x20};
inline const QColor kTroughColour{0x20, 0x24, 0x28};

} // namespace qx::units
