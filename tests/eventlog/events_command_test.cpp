// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt events: its options, and what it prints from a log on the disk.
#include "LogFixture.h"
#include "cli/CliMain.h"
#include "cli/EventsCommand.h"
#include "eventlog/EventJson.h"

namespace qx::eventlog::test {
namespace {

using cli::parseArgs;

class Captured : public cli::CliOutput {
public:
    void write(bool error, std::string_view text) override { (error ? err : out) += text; }
    std::string out;
    std::string err;
};

TEST(EventsArgs, TakesItsOptionsAndRefusesBadOnes) {
    const cli::ParsedArgs a =
        parseArgs({"events", "--unit", "Rack 2", "--kind=over,over-ack", "--kind", "summary",
                   "--since", "2h", "--until=2026-12-11", "--json"});
    ASSERT_TRUE(a.request) << a.error;
    EXPECT_EQ(a.request->command, cli::Command::Events);
    EXPECT_EQ(a.request->unit, "Rack 2");
    EXPECT_EQ(a.request->kinds, (std::vector<std::string>{"over", "over-ack", "summary"}));
    EXPECT_EQ(a.request->since, "2h");
    EXPECT_EQ(a.request->until, "2026-12-11");
    EXPECT_TRUE(a.request->json);
    EXPECT_TRUE(parseArgs({"--demo", "events"}).request);

    struct Row {
        std::vector<std::string> args;
        const char* error;
    };
    const Row rows[] = {
        {{"events", "--since"}, "--since needs a time"},
        {{"events", "--since="}, "--since needs a time"},
        {{"events", "--unit"}, "--unit needs a serial number or a name"},
        {{"events", "--since", "yesterday"}, "cannot read the time \"yesterday\""},
        {{"events", "--until", "2026-02-30"}, "cannot read the time \"2026-02-30\""},
        {{"events", "--kind", "overs"}, "unknown kind of event \"overs\" (kinds: alarm-raised,"},
        {{"events", "--kind", "over,"}, "unknown kind of event \"\""},
        {{"events", "--serial", "QX1"}, "events takes --unit"},
        {{"events", "extra"}, "usage: qx77zt events"},
        {{"status", "--since", "2h"}, "--unit, --kind, --since and --until belong to the events"},
        {{"events", "--sincere"}, "unknown option \"--sincere\""},
    };
    for (const Row& r : rows) {
        const cli::ParsedArgs p = parseArgs(r.args);
        EXPECT_FALSE(p.request) << r.args.back();
        EXPECT_EQ(p.error.rfind(r.error, 0), 0u) << p.error;
    }
    const std::string help = cli::usageText(cli::Command::Events);
    EXPECT_NE(help.find("--since T"), std::string::npos);
    EXPECT_EQ(help.find("--serial"), std::string::npos);
    EXPECT_NE(cli::usageText(cli::Command::None).find("qx77zt events"), std::string::npos);
}

class EventsCommandTest : public LogFolderTest {
protected:
    void SetUp() override {
        LogFolderTest::SetUp();
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        watch::Event over = makeEvent(someTime(), "over", "QX1", "Studio A");
        over.texts = {{"channel", "left"}};
        lines = {formatEventLine(makeEvent(someTime() - 3h, "connected", "QX1", "Studio A")),
                 formatEventLine(over),
                 formatEventLine(makeEvent(someTime() + 1min, "program", "", ""))};
        write(dayFile(someDay()),
              lines[0] + "\n" + lines[1] + "\n" + "damaged\n" + lines[2] + "\n");
    }
    void TearDown() override {
        ::unsetenv("TZ");
        ::tzset();
        LogFolderTest::TearDown();
    }
    int run(std::vector<std::string> args) {
        out = Captured{};
        const cli::ParsedArgs p = parseArgs(args);
        EXPECT_TRUE(p.request) << p.error;
        return cli::runEvents(*p.request, folder, out, someTime() + 2min);
    }

    std::vector<std::string> lines;
    Captured out;
};

TEST_F(EventsCommandTest, PrintsOneLinePerEventOrTheStoredLines) {
    EXPECT_EQ(run({"events"}), 0);
    EXPECT_EQ(out.out, "2026-12-11 00:12:45  Studio A  connected\n"
                       "2026-12-11 03:12:45  Studio A  over  channel=left\n"
                       "2026-12-11 03:13:45  -  program\n");
    EXPECT_EQ(out.err, "qx77zt: warning: 1 damaged line was skipped\n");

    EXPECT_EQ(run({"events", "--json", "--since", "1h", "--unit", "studio a"}), 0);
    EXPECT_EQ(out.out, lines[1] + "\n");

    EXPECT_EQ(run({"events", "--kind", "program,connected", "--until", "2026-12-11T03:00Z"}), 0);
    EXPECT_EQ(out.out, "2026-12-11 00:12:45  Studio A  connected\n");

    // Nothing to show is not an error.
    EXPECT_EQ(run({"events", "--unit", "QX9"}), 0);
    EXPECT_EQ(out.out, "");
    folder = root / "none";
    EXPECT_EQ(run({"events"}), 0);
    EXPECT_EQ(out.out, "");
    EXPECT_EQ(out.err, "");
}

TEST_F(EventsCommandTest, ReadsTheLogWithoutAnyProgramOrUnit) {
    // Through runCli as qx77zt runs it: no library, no hand-off, no unit is touched.
    cli::CliEnvironment env;
    env.eventsFolder = folder;
    env.demoEventsFolder = root / "demo";
    bool handedOff = false;
    env.handOff = [&handedOff](const cli::CliRequest&, cli::CliOutput&, std::stop_token) {
        handedOff = true;
        return std::optional<int>(0);
    };
    Captured captured;
    EXPECT_EQ(cli::runCli({"events", "--json"}, env, captured), 0);
    EXPECT_EQ(captured.out, lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
    EXPECT_FALSE(handedOff);

    write(root / "demo" / dailyFileName(someDay()), lines[2] + "\n");
    captured = Captured{};
    EXPECT_EQ(cli::runCli({"--demo", "events", "--json"}, env, captured), 0);
    EXPECT_EQ(captured.out, lines[2] + "\n");

    captured = Captured{};
    EXPECT_EQ(cli::runCli({"events", "--since", "soon"}, env, captured), 2);
    env.eventsFolder.clear();
    EXPECT_EQ(cli::runCli({"events"}, env, captured), 2);
    EXPECT_NE(captured.err.find("no state folder"), std::string::npos);
}

} // namespace
} // namespace qx::eventlog::test
