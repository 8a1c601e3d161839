// SPDX-License-Identifier: GPL-3.0-or-later
// The program's icon: the unit's front, a dark rounded panel with its two level meters.
#pragma once

#include <QImage>

namespace qx {

// The icon drawn at `size` x `size` pixels (ARGB, transparent around the panel).
QImage drawProgramIcon(int size);

inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

} // namespace qx
