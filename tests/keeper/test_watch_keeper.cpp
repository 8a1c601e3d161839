// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventReader.h"
#include "watch/WatchKeeper.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace qx::watch {
namespace {

using namespace std::chrono_literals;

struct KeeperTest : ::testing::Test {
    QTemporaryDir dir;
    std::filesystem::path state() const {
        return dir.filePath(QStringLiteral("state")).toStdString();
    }
    std::filesystem::path config() const {
        return dir.filePath(QStringLiteral("alarms.conf")).toStdString();
    }
    void writeConfig(const std::string& text) {
        std::ofstream(config(), std::ios::trunc) << text;
        // A new modification time even on a file system with coarse times.
        std::filesystem::last_write_time(config(), std::filesystem::last_write_time(config()) + 1s);
    }
    WatchKeeper::Setup setup() const { return {state(), config(), "monitor", 20ms}; }
    std::vector<std::string> programEntries() const {
        std::vector<std::string> whats;
        eventlog::EventReader(state() / "events").read({}, [&](const Event& e, std::string_view) {
            if (e.kind == kind::kProgram) {
                whats.push_back(e.text("program") + " " + e.text("what"));
            }
            return true;
        });
        return whats;
    }
};

TEST_F(KeeperTest, FollowsTheConfigFileAndKeepsTheLastGoodSettings) {
    WatchKeeper keeper(setup());
    EXPECT_FALSE(keeper.settings().rules[AlarmKind::Silence].on) << "no file: every alarm off";
    QSignalSpy problems(&keeper, &WatchKeeper::problem);

    writeConfig("[alarms]\nsilence = on\nsilence.level = -40\n");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return keeper.settings().rules[AlarmKind::Silence].on; }, 5000));
    EXPECT_EQ(keeper.settings().rules.silenceLevelDb, -40);

    writeConfig("[alarms]\nsilence = maybe\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !problems.isEmpty(); }, 5000));
    const QString said = problems.takeFirst().at(0).toString();
    EXPECT_TRUE(said.contains(QStringLiteral("alarms.conf:2:"))) << said.toStdString();
    EXPECT_TRUE(keeper.settings().rules[AlarmKind::Silence].on) << "a refused file changes nothing";

    std::filesystem::remove(config());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !keeper.settings().rules[AlarmKind::Silence].on; }, 5000))
        << "the file taken away: the alarms are off again";
}

TEST_F(KeeperTest, LogsTheProgramsOwnEntriesUpToItsEnd) {
    {
        WatchKeeper keeper(setup());
        keeper.programEvent("handed the units over");
        keeper.flush();
        EXPECT_EQ(programEntries(),
                  (std::vector<std::string>{"monitor started", "monitor handed the units over"}));
    }
    EXPECT_EQ(programEntries().back(), "monitor stopped") << "the end is on the disk";
}

} // namespace
} // namespace qx::watch
