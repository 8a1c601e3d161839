#include "panel/StatusLine.h"

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

} // namespace qx::panel
