// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's alarm command, run for real: the facts arrive in its environment, a unit's name
// full of shell characters stays a value, a command past its limit is killed with what it
// started, and every failure is told.
#include "watch/CommandAction.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace qx::watch {
namespace {

using namespace std::chrono_literals;

struct CommandTest : ::testing::Test {
    QTemporaryDir dir;
    std::vector<std::pair<AlarmFacts, std::string>> failures;
    CommandAction action{
        [this](const AlarmFacts& f, const std::string& why) { failures.emplace_back(f, why); }};

    std::string path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }
    // An executable shell script in the test's folder.
    std::string script(const std::string& name, const std::string& body) {
        const std::string p = path(name);
        std::ofstream(p) << "#!/bin/sh\n" << body;
        std::filesystem::permissions(p, std::filesystem::perms::owner_all);
        return p;
    }
    bool allEnded(int limitMs = 10000) {
        return QTest::qWaitFor([&] { return action.running() == 0; }, limitMs);
    }
    static AlarmFacts facts(std::string unit) {
        AlarmFacts f;
        f.kind = AlarmKind::Silence;
        f.raised = true;
        f.unit = std::move(unit);
        f.serial = "QX7700000042";
        f.time = std::chrono::system_clock::time_point(std::chrono::seconds(1'796'990'587));
        return f;
    }
    static std::map<std::string, std::string> readEnv(const std::string& file) {
        std::map<std::string, std::string> env;
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos && line.rfind("QX_", 0) == 0) {
                env[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
        return env;
    }
};

TEST_F(CommandTest, TheFactsArriveInTheEnvironmentAndShellCharactersStayInert) {
    ASSERT_TRUE(dir.isValid());
    const std::string out = path("env.txt");
    const std::string prog = script("write-env", "env > \"$1\"\n");
    // Everything a shell would act on, none of it harmful should it ever be run.
    const std::string marker = path("created");
    const std::string name =
        "$(touch " + marker + "); touch " + marker + " ; `touch " + marker + "` \"a b\" | &";
    qputenv("QX_TEST_INHERITED", "kept");
    action.run({prog, out, "$(touch " + marker + ")"}, 10s, facts(name));
    ASSERT_TRUE(allEnded());
    EXPECT_TRUE(failures.empty()) << failures.front().second;
    const auto env = readEnv(out);
    EXPECT_EQ(env.at("QX_ALARM"), "silence");
    EXPECT_EQ(env.at("QX_UNIT"), name);
    EXPECT_EQ(env.at("QX_SERIAL"), "QX7700000042");
    EXPECT_EQ(env.at("QX_STATE"), "raised");
    EXPECT_EQ(env.at("QX_TIME"), "2026-12-11T12:03:07Z");
    EXPECT_EQ(env.at("QX_TEST_INHERITED"), "kept") << "the program's own environment is kept";
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(CommandTest, ACommandPastItsLimitIsKilledWithWhatItStarted) {
    ASSERT_TRUE(dir.isValid());
    // A script that leaves a child of its own behind, then waits.
    const std::string pidFile = path("child.pid");
    const std::string prog = script("slow", "sleep 300 &\necho $! > \"$1\"\nwait\n");
    action.run({prog, pidFile}, 300ms, facts("Studio A"));
    ASSERT_TRUE(allEnded());
    ASSERT_EQ(failures.size(), 1U);
    EXPECT_EQ(failures[0].second, "killed after its limit of 300ms");
    EXPECT_EQ(failures[0].first.unit, "Studio A");
    std::ifstream in(pidFile);
    pid_t child = 0;
    ASSERT_TRUE(in >> child);
    // Gone, or at most a zombie waiting for its new parent to reap it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
            std::string pid, comm, state;
            return !(stat >> pid >> comm >> state) || state == "Z";
        },
        10000));
}

TEST_F(CommandTest, FailuresAreTold) {
    ASSERT_TRUE(dir.isValid());
    const struct {
        std::vector<std::string> words;
        std::string why; // the start of it
    } cases[] = {
        {{path("no-such-program")}, "could not be started"},
        {{"/bin/sh", "-c", "exit 3"}, "ended with exit status 3"},
        {{"/bin/sh", "-c", "kill -TERM $$"}, "ended by a signal"},
        {{"/bin/true"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words.front());
        failures.clear();
        action.run(c.words, 10s, facts("u"));
        ASSERT_TRUE(allEnded());
        if (c.why.empty()) {
            EXPECT_TRUE(failures.empty());
        } else {
            ASSERT_EQ(failures.size(), 1U);
            EXPECT_EQ(failures[0].second.substr(0, c.why.size()), c.why) << failures[0].second;
        }
    }
}

TEST_F(CommandTest, AFloodOfAlarmsRunsABoundedNumberOfCommands) {
    for (int i = 0; i < CommandAction::kMaxRunning + 3; ++i) {
        action.run({"/bin/sleep", "30"}, 30s, facts("u"));
    }
    EXPECT_EQ(action.running(), CommandAction::kMaxRunning);
    EXPECT_EQ(failures.size(), 3U);
    // Those still running are killed when the action goes (the program quits).
}

} // namespace
} // namespace qx::watch

namespace qx::watch {
namespace {

TEST(AlarmFactsText, TimesAreUtcToTheSecond) {
    using namespace std::chrono;
    const struct {
        sys_seconds::rep since;
        const char* text;
    } cases[] = {{0, "1970-01-01T00:00:00Z"},
                 {-1, "1969-12-31T23:59:59Z"},
                 {1796994187, "2026-12-11T13:03:07Z"}};
    for (const auto& c : cases) {
        EXPECT_EQ(isoTime(system_clock::time_point(seconds(c.since)) + milliseconds(999)), c.text);
    }
}

} // namespace
} // namespace qx::watch
