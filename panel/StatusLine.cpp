// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/StatusLine.h"

#include <algorithm>

namespace qx::panel {

StatusSentence statusSentence(const LinkView& v) {
    if (!v.connected) {
        return {LinkCondition::NoUnit, "No unit found: plug the QX-77ZT in.", false};
    }
    if (v.bootMode) {
        return {LinkCondition::BootLoader,
                "The unit is in its boot loader: open \"Update firmware\"; its \"Close\" "
                "restarts the unit.",
                false};
    }
    if (v.silentFor > kSilentAfter && v.damagedAnswers > 0) {
        return {LinkCondition::Damaged,
                "The unit's answers arrive damaged: the readings shown are out of date. Check "
                "the USB cable.",
                true};
    }
    if (v.silentFor > kSilentAfter) {
        return {LinkCondition::Silent,
                "The unit does not answer: the readings shown are out of date.", true};
    }
    if (v.unconfirmedFor && *v.unconfirmedFor > kUnconfirmedAfter) {
        return {LinkCondition::Unconfirmed, "Waiting for the unit to confirm the change.", false};
    }
    const std::string name = v.name.empty() ? std::string("The unit") : v.name;
    return {LinkCondition::Connected,
            name + " connected, serial " + v.serial + ", version " + v.version + ".", false};
}

std::optional<std::chrono::milliseconds> sentenceStandsFor(const LinkView& v) {
    using std::chrono::milliseconds;
    if (!v.connected || v.bootMode || v.silentFor > kSilentAfter) {
        return std::nullopt;
    }
    // The sentences change once a span is *over* its limit.
    constexpr milliseconds kPast{1};
    milliseconds stands = kSilentAfter - v.silentFor + kPast;
    if (!v.unconfirmedFor) {
        stands = std::min(stands, kUnconfirmedAfter);
    } else if (*v.unconfirmedFor <= kUnconfirmedAfter) {
        stands = std::min(stands, kUnconfirmedAfter - *v.unconfirmedFor + kPast);
    }
    return stands;
}

} // namespace qx::panel
