// SPDX-License-Identifier: GPL-3.0-or-later
// What the operator is told when the unit is present but cannot be opened.
#include "panel/UnitAccessHint.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace qx {
namespace {

namespace fs = std::filesystem;

TEST(UnitAccessHint, CauseFollowsThePermissionAndTheRule) {
    struct Case {
        int accessError;
        bool ruleInstalled;
        UnitAccessCause cause;
    };
    for (const Case& c : {
             Case{EACCES, false, UnitAccessCause::RuleMissing},
             Case{EPERM, false, UnitAccessCause::RuleMissing},
             Case{EACCES, true, UnitAccessCause::RuleNotApplied},
             Case{0, false, UnitAccessCause::NodeRefused}, // permitted: someone else holds it
             Case{0, true, UnitAccessCause::NodeRefused},
             Case{ENOENT, false, UnitAccessCause::NodeRefused}, // unplugged meanwhile
         }) {
        EXPECT_EQ(classifyUnitAccess(c.accessError, c.ruleInstalled), c.cause)
            << "errno " << c.accessError << ", rule " << c.ruleInstalled;
    }
}

TEST(UnitAccessHint, EachCauseNamesTheNodeAndWhatToDo) {
    const std::string node = "/dev/hidraw7";
    const auto missing = unitAccessHint(node, UnitAccessCause::RuleMissing);
    EXPECT_NE(missing.text.find("(/dev/hidraw7)"), std::string::npos);
    EXPECT_NE(missing.text.find("udev rule is not installed"), std::string::npos);
    EXPECT_NE(missing.details.find("70-qx77zt.rules"), std::string::npos);
    EXPECT_NE(missing.details.find("udevadm control --reload-rules"), std::string::npos);

    const auto notApplied = unitAccessHint(node, UnitAccessCause::RuleNotApplied);
    EXPECT_NE(notApplied.text.find("although its udev rule is installed"), std::string::npos);
    EXPECT_NE(notApplied.details.find("log out"), std::string::npos);

    const auto refused = unitAccessHint(node, UnitAccessCause::NodeRefused);
    EXPECT_NE(refused.text.find("Close any other program"), std::string::npos);
    for (const auto* hint : {&missing, &notApplied, &refused})
        EXPECT_LE(hint->text.size(), 200u) << "the status bar line stays short: " << hint->text;
}

TEST(UnitAccessHint, ProbeLooksForTheRuleInEveryFolder) {
    const fs::path dir = fs::temp_directory_path() / ("qx-hint-" + std::to_string(::getpid()));
    fs::create_directories(dir / "etc");
    fs::create_directories(dir / "lib");
    const fs::path node = dir / "hidraw0";
    std::ofstream(node).put('x');
    fs::permissions(node, fs::perms::none);
    const std::vector<std::string> dirs = {(dir / "etc").string(), (dir / "lib").string()};

    // Root may open anything, so the node only refuses an ordinary user.
    const bool refused = ::access(node.c_str(), R_OK | W_OK) != 0;
    EXPECT_EQ(probeUnitAccess(node.string(), dirs),
              refused ? UnitAccessCause::RuleMissing : UnitAccessCause::NodeRefused);
    std::ofstream(dir / "lib" / kUdevRuleName) << "# rule\n";
    EXPECT_EQ(probeUnitAccess(node.string(), dirs),
              refused ? UnitAccessCause::RuleNotApplied : UnitAccessCause::NodeRefused);
    EXPECT_EQ(probeUnitAccess((dir / "gone").string(), dirs), UnitAccessCause::NodeRefused);
    fs::remove_all(dir);
}

TEST(UnitAccessHint, ARefusedDeviceIsToldWithItsReportLengths) {
    const auto hint = unitRefusedHint(128, 65);
    EXPECT_NE(hint.text.find("not the unit's 65 bytes (128 out, 65 in)"), std::string::npos)
        << hint.text;
    EXPECT_NE(hint.details.find("output reports of 128 bytes and input reports of 65 bytes"),
              std::string::npos)
        << hint.details;
}

} // namespace
} // namespace qx
