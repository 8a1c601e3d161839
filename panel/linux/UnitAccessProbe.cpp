// SPDX-License-Identifier: GPL-3.0-or-later
// Why a hidraw node cannot be opened: its permissions for this process, and the udev rule.
#include "panel/UnitAccessHint.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace qx {

UnitAccessCause probeUnitAccess(const std::string& node, const std::vector<std::string>& ruleDirs) {
    // The same check the library's scan makes: effective ids, ACLs included.
    const int accessError =
        ::faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ? 0 : errno;
    const bool ruleInstalled =
        std::any_of(ruleDirs.begin(), ruleDirs.end(), [](const std::string& dir) {
            std::error_code ignored;
            return std::filesystem::exists(std::filesystem::path(dir) / kUdevRuleName, ignored);
        });
    return classifyUnitAccess(accessError, ruleInstalled);
}

} // namespace qx
