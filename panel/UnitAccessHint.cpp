// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/UnitAccessHint.h"

#include <cerrno>
#include <string>

namespace qx {

UnitAccessCause classifyUnitAccess(int accessError, bool ruleInstalled) {
    if (accessError == EACCES || accessError == EPERM)
        return ruleInstalled ? UnitAccessCause::RuleNotApplied : UnitAccessCause::RuleMissing;
    return UnitAccessCause::NodeRefused;
}

std::vector<std::string> udevRuleDirs() {
    return {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d",
            "/usr/local/lib/udev/rules.d"};
}

UnitAccessHint unitAccessHint(const std::string& node, UnitAccessCause cause) {
    const std::string replug = "Unplug the unit and plug it in again.";
    switch (cause) {
    case UnitAccessCause::RuleMissing:
        return {"The unit is connected but this user may not open it (" + node +
                    "): its udev rule is not installed. Install the program's package or the "
                    "rule, then plug the unit in again.",
                std::string("To install the rule by hand, copy ") + kUdevRuleName +
                    " (in the source tree's app/linux folder) to /etc/udev/rules.d and run:\n"
                    "sudo udevadm control --reload-rules && sudo udevadm trigger "
                    "--subsystem-match=hidraw\n" +
                    replug};
    case UnitAccessCause::RuleNotApplied:
        return {"The unit is connected but this user may not open it (" + node +
                    "), although its udev rule is installed. Plug the unit in again.",
                "The rule gives access to the user at the seat when the unit is plugged in. " +
                    replug + " If that does not help, log out and back in."};
    case UnitAccessCause::NodeRefused:
        break;
    }
    return {"The unit is connected but cannot be opened (" + node +
                "). Close any other program that uses it, then plug it in again.",
            "The system refused to open " + node +
                " for reading and writing although this user may. Another program may hold the "
                "unit, or it was unplugged meanwhile. " +
                replug};
}

UnitAccessHint unitRefusedHint(unsigned outputLength, unsigned inputLength) {
    const std::string lengths = "output reports of " + std::to_string(outputLength) +
                                " bytes and input reports of " + std::to_string(inputLength) +
                                " bytes";
    return {"A device that names the unit's maker is not used: its reports are not the unit's "
            "65 bytes (" +
                std::to_string(outputLength) + " out, " + std::to_string(inputLength) + " in).",
            "The device gives the unit's manufacturer string but declares " + lengths +
                ". The unit exchanges reports of 65 bytes, the report ID included; a device with "
                "other lengths is not driven, so that no report is cut short or sent with bytes "
                "that do not belong to it. Plug in the unit itself."};
}

} // namespace qx
