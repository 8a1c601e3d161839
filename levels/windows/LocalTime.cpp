// The C run-time has no tm_gmtoff here: the offset is the local fields read back as UTC, less
// the moment itself.
#include "levels/LocalTime.h"

namespace qx::levels {

LocalTime localTimeOf(std::time_t moment) {
    LocalTime local;
    if (localtime_s(&local.fields, &moment) != 0) {
        gmtime_s(&local.fields, &moment);
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
