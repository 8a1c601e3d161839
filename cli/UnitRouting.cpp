// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/UnitRouting.h"

#include "state/UnitLabels.h"

namespace qx::cli {

namespace {

std::string listing(const std::vector<UnitName>& units, const std::vector<std::size_t>& which) {
    std::string text;
    for (const std::size_t i : which) {
        const UnitName& u = units[i];
        text += "\n  " + state::unitName({u.serial, u.place, u.label}) + "  " + u.state;
    }
    return text;
}

} // namespace

Routing routeRequest(const CliRequest& request, const std::vector<UnitName>& units) {
    Routing r;
    std::vector<std::size_t> present;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i].present) {
            present.push_back(i);
        }
    }
    if (!request.serial.empty()) {
        std::vector<state::NamedUnit> named;
        for (const UnitName& u : units) {
            named.push_back({u.serial, u.place, u.label});
        }
        const state::UnitMatch match = state::matchUnit(request.serial, named);
        const std::vector<std::size_t>& found = match.units;
        if (found.size() > 1) {
            r.error = match.error;
            r.status = kExitUsage;
        } else if (found.empty() || !units[found.front()].present) {
            r.error = "the window program has no unit \"" + request.serial + "\"";
            if (!present.empty()) {
                r.error += "; it has:" + listing(units, present);
            }
            r.status = kExitNoUnit;
        } else {
            r.targets = found;
        }
        return r;
    }
    if (present.empty()) {
        r.error = "no QX-77ZT unit found (the window program has none)";
        r.status = kExitNoUnit;
    } else if (present.size() == 1) {
        r.targets = present;
    } else if (request.command == Command::Status && !request.watch) {
        r.targets = present;
    } else {
        r.error = "several units are connected; choose one with --serial (serial or label):" +
                  listing(units, present);
        r.status = kExitUsage;
    }
    return r;
}

} // namespace qx::cli
