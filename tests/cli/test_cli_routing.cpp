// SPDX-License-Identifier: GPL-3.0-or-later
// Which unit a request handed to the window program goes to.
#include "cli/UnitRouting.h"

#include <gtest/gtest.h>

namespace qx::cli {
namespace {

CliRequest request(Command command, std::string serial = {}, bool watch = false) {
    CliRequest r;
    r.command = command;
    r.serial = std::move(serial);
    r.watch = watch;
    return r;
}

TEST(UnitRouting, EachRequestGoesToTheUnitItNamesOrIsRefused) {
    const std::vector<UnitName> units = {
        {"A1", "", "Studio A", "connected", true}, {"B2", "", "", "boot loader", true},
        {"C3", "", "studio a", "connected", true}, {"D4", "", "Rack 2", "unplugged", false},
        {"E5", "usb 1-2", "", "connected", true},  {"E5", "usb 1-3", "", "connected", true},
    };
    struct Case {
        const char* what;
        CliRequest request;
        std::vector<std::size_t> targets;
        int status;
        const char* errorStart;
    } cases[] = {
        {"by serial", request(Command::Set, "B2"), {1}, kExitDone, ""},
        {"by label, exactly", request(Command::Get, "Studio A"), {0}, kExitDone, ""},
        {"by label in another case, two fit",
         request(Command::Get, "STUDIO A"),
         {},
         kExitUsage,
         "\"STUDIO A\" names 2 units"},
        {"a serial two report",
         request(Command::Get, "E5"),
         {},
         kExitUsage,
         "\"E5\" names 2 units"},
        {"by where it is plugged in", request(Command::Get, "usb 1-3"), {5}, kExitDone, ""},
        {"unplugged",
         request(Command::Set, "Rack 2"),
         {},
         kExitNoUnit,
         "the window program has no unit \"Rack 2\""},
        {"unknown",
         request(Command::Status, "Z9"),
         {},
         kExitNoUnit,
         "the window program has no unit \"Z9\""},
        {"a change without --serial",
         request(Command::Set),
         {},
         kExitUsage,
         "several units are connected"},
        {"a read without --serial",
         request(Command::Get),
         {},
         kExitUsage,
         "several units are connected"},
        {"status without --serial: all present",
         request(Command::Status),
         {0, 1, 2, 4, 5},
         kExitDone,
         ""},
        {"a watch needs one",
         request(Command::Status, {}, true),
         {},
         kExitUsage,
         "several units are connected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Routing r = routeRequest(c.request, units);
        EXPECT_EQ(r.targets, c.targets);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.error.rfind(c.errorStart, 0), 0u) << r.error;
    }
    // The refusal lists the units to choose from, with labels and states.
    const Routing refused = routeRequest(request(Command::Defaults), units);
    EXPECT_EQ(refused.error, "several units are connected; choose one with --serial (serial or "
                             "label):\n  A1 \"Studio A\"  connected\n  B2  boot loader\n"
                             "  C3 \"studio a\"  connected\n  E5 at usb 1-2  connected\n"
                             "  E5 at usb 1-3  connected");
}

TEST(UnitRouting, OneUnitOrNoneBehavesAsBefore) {
    const std::vector<UnitName> one = {{"A1", "", "", "connected", true},
                                       {"B2", "", "", "unplugged", false}};
    EXPECT_EQ(routeRequest(request(Command::Set), one).targets, std::vector<std::size_t>{0});
    const Routing none = routeRequest(request(Command::Set), {});
    EXPECT_EQ(none.status, kExitNoUnit);
    EXPECT_EQ(none.error, "no QX-77ZT unit found (the window program has none)");
}

} // namespace
} // namespace qx::cli
