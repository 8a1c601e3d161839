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
    };
    for (const auto& line : lines) {
        const ParsedArgs first = parseArgs(line);
        ASSERT_TRUE(first.request) << first.error;
        const ParsedArgs again = parseArgs(argsOf(*first.request));
        ASSERT_TRUE(again.request) << again.error;
        EXPECT_EQ(*again.request, *first.request);
    }
}

} // namespace
} // namespace qx::cli
