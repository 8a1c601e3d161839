// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/LocalTime.h"

namespace qx::levels {

LocalTime localTimeOf(std::time_t moment) {
    LocalTime local;
    localtime_r(&moment, &local.fields);
    local.offsetSeconds = local.fields.tm_gmtoff;
    return local;
}

} // namespace qx::levels
