// SPDX-License-Identifier: GPL-3.0-or-later
// The local calendar time of a moment, with the offset from UTC in force then.
#pragma once

#include <ctime>

namespace qx::levels {

struct LocalTime {
    std::tm fields{};
    long offsetSeconds = 0; // east of UTC positive
};

LocalTime localTimeOf(std::time_t moment);

} // namespace qx::levels
