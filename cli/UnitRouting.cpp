// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/UnitRouting.h"

#include <algorithm>
#include <cctype>

namespace qx::cli {

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string listing(const std::vector<UnitName>& units, const std::vector<std::size_t>& which) {
    std::string text;
    for (const std::size_t i : which) {
        const UnitName& u = units[i];
        text += "\n  " + (u.serial.empty() ? std::string("(no serial)") : u.serial);
        if (!u.label.empty()) {
            text += "  \"" + u.label + "\"";
        }
        text += "  " + u.state;
    }
    return text;
}

// The units --serial names: by serial number, else by label, else by label in any case.
std::vector<std::size_t> named(const std::string& typed, const std::vector<UnitName>& units) {
    const auto pick = [&](auto&& fits) {
        std::vector<std::size_t> found;
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (fits(units[i])) {
                found.push_back(i);
            }
        }
        return found;
    };
    for (auto found :
         {pick([&](const UnitName& u) { return u.serial == typed; }),
          pick([&](const UnitName& u) { return !u.label.empty() && u.label == typed; }),
          pick([&](const UnitName& u) {
              return !u.label.empty() && sameIgnoringCase(u.label, typed);
          })}) {
        if (!found.empty()) {
            return found;
        }
    }
    return {};
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
        const std::vector<std::size_t> found = named(request.serial, units);
        if (found.size() > 1) {
            r.error = "\"" + request.serial +
                      "\" names more than one unit; choose by serial:" + listing(units, found);
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

std::string unitHeading(const std::string& serial, const std::string& label) {
    std::string text = "== " + (serial.empty() ? std::string("(no serial)") : serial);
    if (!label.empty()) {
        text += " (" + label + ")";
    }
    return text + "\n";
}

} // namespace qx::cli
