// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/ReadingAnnouncer.h"

namespace qx::levels {

bool ReadingAnnouncer::due(Clock::time_point now, const std::string& text, Urgency urgency) {
    if (toldAt_ && text == told_) {
        return false;
    }
    if (holdsBack(now, urgency)) {
        return false;
    }
    toldAt_ = now;
    told_ = text;
    return true;
}

} // namespace qx::levels
