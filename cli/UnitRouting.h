// SPDX-License-Identifier: GPL-3.0-or-later
// Which of several units a request is for: the one its --serial names (by serial number or
// label), the only one there, or, for a status without --serial, all of them. A request that
// would change a unit never guesses among several.
#pragma once

#include "cli/CliArgs.h"

#include <cstddef>
#include <string>
#include <vector>

namespace qx::cli {

struct UnitName {
    std::string serial;
    std::string place; // where it is plugged in, when another unit reports its serial
    std::string label;
    std::string state; // one word for the listing
    // Connected, or there but not to be opened: a unit a request may be meant for.
    bool present = false;
};

struct Routing {
    std::vector<std::size_t> targets; // indexes into the units; empty with an error
    std::string error;                // one line or a listing, without "qx77zt: "
    int status = kExitDone;
};

Routing routeRequest(const CliRequest& request, const std::vector<UnitName>& units);

} // namespace qx::cli
