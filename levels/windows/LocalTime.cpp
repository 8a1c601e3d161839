// SPDX-License-Identifier: GPL-3.0-or-later
// The C run-time has no tm_gmtoff here: the offset is the local fields read back as UTC, less
// the moment itself. It knows no time before 1970 either; such a moment is given in UTC.
#include "levels/LocalTime.h"

#include <chrono>

namespace qx::levels {

namespace {

std::tm utcFields(std::time_t moment) {
    using namespace std::chrono;
    const sys_seconds at{seconds{moment}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss time{at - day};
    std::tm fields{};
    fields.tm_year = static_cast<int>(date.year()) - 1900;
    fields.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    fields.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    fields.tm_hour = static_cast<int>(time.hours().count());
    fields.tm_min = static_cast<int>(time.minutes().count());
    fields.tm_sec = static_cast<int>(time.seconds().count());
    return fields;
}

} // namespace

LocalTime localTimeOf(std::time_t moment) {
    LocalTime local;
    if (localtime_s(&local.fields, &moment) != 0) {
        local.fields = utcFields(moment);
        return local;
    }
    std::tm fields = local.fields;
    const std::time_t asUtc = _mkgmtime(&fields);
    if (asUtc != static_cast<std::time_t>(-1)) {
        local.offsetSeconds = static_cast<long>(asUtc - moment);
    }
    return local;
}

} // namespace qx::levels
