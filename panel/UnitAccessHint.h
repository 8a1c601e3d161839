// SPDX-License-Identifier: GPL-3.0-or-later
// Why a unit that is plugged in cannot be opened, and what the operator can do about it. The
// usual cause on a desktop is the node's permissions: without the program's udev rule only root
// may open it; with the rule, the seat's user gets access when the unit is plugged in.
#ifndef QX_PANEL_UNITACCESSHINT_H
#define QX_PANEL_UNITACCESSHINT_H

#include <string>
#include <vector>

namespace qx {

inline constexpr const char* kUdevRuleName = "70-qx77zt.rules";

enum class UnitAccessCause {
    RuleMissing,    // no permission, and the rule is not installed
    RuleNotApplied, // no permission although the rule is installed: not plugged in since
    NodeRefused,    // permitted, yet the open failed: gone meanwhile or held by another program
};

// `accessError`: errno of the read-write permission check on the node, 0 when it passed.
UnitAccessCause classifyUnitAccess(int accessError, bool ruleInstalled);

// The folders udev reads rules from.
std::vector<std::string> udevRuleDirs();

// Looks at the node's permissions and for the rule in `ruleDirs`.
UnitAccessCause probeUnitAccess(const std::string& node,
                                const std::vector<std::string>& ruleDirs = udevRuleDirs());

struct UnitAccessHint {
    std::string text;    // short enough for the status bar
    std::string details; // the steps, for the tooltip
};

UnitAccessHint unitAccessHint(const std::string& node, UnitAccessCause cause);

// A device of the unit's maker left alone because its report lengths (bytes, report ID included)
// are not the unit's 65.
UnitAccessHint unitRefusedHint(unsigned outputLength, unsigned inputLength);

} // namespace qx

#endif
