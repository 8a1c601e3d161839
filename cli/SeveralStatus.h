// SPDX-License-Identifier: GPL-3.0-or-later
// `status` without --serial among several units, the same whoever drives them (qx77zt itself or
// the window program): a block per unit headed by its name, or one JSON array whose elements are
// the single unit's object with its identity added.
#pragma once

#include "cli/CliArgs.h"
#include "cli/CliOutput.h"

#include <functional>
#include <string>
#include <vector>

namespace qx::cli {

struct StatusTarget {
    std::string path;
    std::string serial;
    std::string place;
    std::string label;
    bool boot = false;
    // Runs the status command on this unit; its exit status.
    std::function<int(CliOutput&)> run;
};

int statusOfSeveral(const CliRequest& request, const std::vector<StatusTarget>& units,
                    CliOutput& out);

} // namespace qx::cli
