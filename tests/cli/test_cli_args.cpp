// SPDX-License-Identifier: GPL-3.0-or-later
// The command line as parsed: options anywhere, "--" before file names that start with a dash,
// and the arguments that give the same request back (what the window program is handed).
#include "cli/CliArgs.h"

#include <gtest/gtest.h>

namespace qx::cli {
namespace {

TEST(CliArgs, OptionsGoAnywhereAndDashDashEndsThem) {
    const ParsedArgs a = parseArgs({"--json", "save", "--serial", "S1", "--", "-odd.cfg"});
    ASSERT_TRUE(a.request) << a.error;
    EXPECT_EQ(a.request->command, Command::Save);
    EXPECT_TRUE(a.request->json);
    EXPECT_EQ(a.request->serial, "S1");
    EXPECT_EQ(a.request->operands, std::vector<std::string>{"-odd.cfg"});

    EXPECT_FALSE(parseArgs({"save", "-odd.cfg"}).request);
    EXPECT_FALSE(parseArgs({"get", "--serial"}).request);
    EXPECT_FALSE(parseArgs({"get", "--serial="}).request);
    EXPECT_FALSE(parseArgs({"load", ""}).request);
}

TEST(CliArgs, ArgumentsOfARequestParseBackIntoIt) {
    const std::vector<std::vector<std::string>> lines = {
        {"status", "--watch", "--json"},
        {"set", "source.left=SDI #2", "dim=-20 dB", "--serial=X"},
        {"update", "--", "--weird name.orbu"},
        {"defaults", "--help"},
        {"list"},
        {"label", "--serial", "Rack 2", "--", "-odd label"},
        {"label", "--clear", "--no-profile", "--json"},
        {"label", "--profile", "/home/op/rack 2.cfg"},
        {"events", "--unit", "Rack 2", "--kind=over,over-ack", "--kind", "summary", "--since", "2h",
         "--until=2026-12-11T04:00", "--json"},
    };
    for (const auto& line : lines) {
        const ParsedArgs first = parseArgs(line);
        ASSERT_TRUE(first.request) << first.error;
        const ParsedArgs again = parseArgs(argsOf(*first.request));
        ASSERT_TRUE(again.request) << again.error;
        EXPECT_EQ(*again.request, *first.request);
    }
}

// What --help tells: every command that reads --serial shows it in its usage line and in the
// overview; --demo and --version are described; --demo does not go with the commands that look
// at this computer's own devices.
TEST(CliArgs, UsageLinesShowTheOptionsEachCommandTakes) {
    const std::string overview = usageText(Command::None);
    for (const Command c : {Command::List, Command::Status, Command::Get, Command::Set,
                            Command::Save, Command::Load, Command::Defaults, Command::Update,
                            Command::Reset, Command::Label, Command::Diag, Command::Events}) {
        const std::string name(commandName(c));
        const std::string text = usageText(c);
        const std::string usageLine = text.substr(0, text.find('\n'));
        EXPECT_EQ(usageLine.find("--serial S") != std::string::npos, takesSerial(c)) << usageLine;
        EXPECT_EQ(text.find("--serial S chooses") != std::string::npos, takesSerial(c)) << name;
        // The overview's line of the command is the same usage line.
        EXPECT_NE(overview.find("  " + usageLine.substr(7) + "\n"), std::string::npos) << name;
    }
    EXPECT_FALSE(takesSerial(Command::Diag));
    EXPECT_NE(overview.find("--demo"), std::string::npos);
    EXPECT_NE(overview.find("--version"), std::string::npos);

    const ParsedArgs version = parseArgs({"--version"});
    ASSERT_TRUE(version.request) << version.error;
    EXPECT_TRUE(version.request->version);

    const ParsedArgs demo = parseArgs({"set", "--demo", "preset=2"});
    ASSERT_TRUE(demo.request) << demo.error;
    EXPECT_TRUE(demo.request->demo);
    // The demo program is handed the request as any window program: --demo stays on this side.
    const ParsedArgs handed = parseArgs(argsOf(*demo.request));
    ASSERT_TRUE(handed.request) << handed.error;
    EXPECT_FALSE(handed.request->demo);
    EXPECT_EQ(handed.request->operands, demo.request->operands);

    for (const char* own : {"list", "diag", "label"}) {
        const ParsedArgs refused = parseArgs({"--demo", own, "--clear"});
        EXPECT_FALSE(refused.request) << own;
        EXPECT_NE(refused.error.find("qx77zt --demo status"), std::string::npos) << refused.error;
    }
}

// The label command's options belong to it alone, and what it is given is a label it can keep.
TEST(CliArgs, LabelOptionsAreCheckedBeforeAnythingIsRead) {
    struct Case {
        std::vector<std::string> args;
        const char* errorHas; // empty: accepted
    };
    const Case cases[] = {
        {{"label", "Studio A"}, ""},
        {{"label", "--clear"}, ""},
        {{"label", "--profile=/a.cfg", "Spare"}, ""},
        {{"label"}, "usage: qx77zt label"},
        {{"label", "A", "B"}, "usage: qx77zt label"},
        {{"label", "A", "--clear"}, "a label or --clear, not both"},
        {{"label", "--profile", "/a.cfg", "--no-profile"}, "--profile or --no-profile"},
        {{"label", "--profile"}, "--profile needs a settings file"},
        {{"label", "--profile="}, "--profile needs a settings file"},
        {{"label", "a\tb"}, "control character"},
        {{"label", std::string(65, 'x')}, "longer than 64"},
        {{"set", "mute=on", "--clear"}, "belong to the label command"},
        {{"get", "--no-profile"}, "belong to the label command"},
    };
    for (const Case& c : cases) {
        const ParsedArgs parsed = parseArgs(c.args);
        SCOPED_TRACE(c.args.back());
        if (std::string_view(c.errorHas).empty()) {
            EXPECT_TRUE(parsed.request) << parsed.error;
        } else {
            EXPECT_FALSE(parsed.request);
            EXPECT_NE(parsed.error.find(c.errorHas), std::string::npos) << parsed.error;
        }
    }
}

} // namespace
} // namespace qx::cli
