// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor in this process over virtual units, with the window program's side played by a
// MonitorClient: who holds the unit lock at each step of the hand-over, that a transfer under way
// is finished before the units go, and the order the hooks are called in.
#include "app/SingleInstance.h"
#include "cli/UnitLock.h"
#include "link/EmbeddedImage.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorClient.h"
#include "monitor/MonitorMain.h"
#include "monitor/MonitorProtocol.h"
#include "room/UnitRoom.h"
#include "unit/VirtualBench.h"

#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qx::monitor {
namespace {

using namespace std::chrono_literals;

constexpr int kPatienceMs = 20000;

// Each room's first copy of the library plugs in one virtual unit; later copies join it.
std::function<void(LoadedLibrary&)> oneVirtualUnit() {
    return [bench = static_cast<unit::VirtualBench*>(nullptr)](LoadedLibrary& library) mutable {
        if (bench == nullptr) {
            bench = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))();
        } else {
            reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))(bench);
        }
    };
}

class MonitorHandOver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        MonitorSetup setup;
        setup.runtimeFolder = folder_.path().toStdString();
        setup.key = QString::fromLatin1(kMonitorInstanceKey);
        setup.image = &embeddedHidImage;
        setup.roomLoader = [] { return oneVirtualUnit(); };
        setup.lockRetry = 50ms;
        setup.hooks.started = [this](room::UnitRoom& room) {
            calls_.push_back("started");
            room_ = &room;
        };
        setup.hooks.beforeRelease = [this] {
            // The room is still there, and so is the lock: nothing has let go yet.
            calls_.push_back(monitor_->room() != nullptr && lockHolder() == cli::kMonitorHolder
                                 ? "beforeRelease"
                                 : "beforeRelease too late");
        };
        setup.hooks.afterTake = [this] { calls_.push_back("afterTake"); };
        setup.hooks.stopping = [this] { calls_.push_back("stopping"); };
        setup.hooks.log = [this](const std::string& text) { log_.push_back(text); };
        monitor_ = std::make_unique<Monitor>(setup);
        ASSERT_TRUE(monitor_->claim()) << monitor_->error().toStdString();
        monitor_->start();
        ASSERT_TRUE(waitForState(Monitor::State::Running));
        ASSERT_TRUE(QTest::qWaitFor([this] { return connected(); }, kPatienceMs));
    }

    void TearDown() override {
        client_.reset();
        if (monitor_->state() != Monitor::State::Stopped) {
            monitor_->stop();
            waitForState(Monitor::State::Stopped);
        }
    }

    bool waitForState(Monitor::State state) {
        return QTest::qWaitFor([&] { return monitor_->state() == state; }, kPatienceMs);
    }
    bool connected() const {
        return monitor_->room() != nullptr && monitor_->room()->count() == 1 &&
               monitor_->room()->unit(0).link().connected;
    }
    // Who holds the unit lock now ("" when it is free), as a second program finds it.
    std::string lockHolder() const {
        cli::UnitLock probe(folder_.path().toStdString());
        return probe.take("probe", 0ms) == cli::UnitLock::Result::Busy ? probe.holder() : "";
    }
    bool endpointListens() const {
        QLocalSocket socket;
        socket.connectToServer(
            SingleInstance::endpointName(QString::fromLatin1(kMonitorInstanceKey), folder_.path()));
        return socket.waitForConnected(1000);
    }
    // The window program's side: asks, and waits for the answer.
    std::optional<MonitorClient::Outcome> handOver() {
        client_ = std::make_unique<MonitorClient>(
            SingleInstance::endpointName(QString::fromLatin1(kMonitorInstanceKey), folder_.path()),
            std::chrono::milliseconds(kPatienceMs));
        client_->ask();
        if (!QTest::qWaitFor([this] { return !client_->waiting(); }, kPatienceMs)) {
            return std::nullopt;
        }
        return client_->outcome();
    }

    QTemporaryDir folder_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<MonitorClient> client_;
    room::UnitRoom* room_ = nullptr;
    std::vector<std::string> calls_;
    std::vector<std::string> log_;
};

TEST_F(MonitorHandOver, LetsGoOfTheLockBeforeItSaysReleasedAndTakesItBackWhenTheWindowGoes) {
    EXPECT_EQ(lockHolder(), cli::kMonitorHolder);
    EXPECT_TRUE(endpointListens());

    ASSERT_EQ(handOver(), MonitorClient::Outcome::Released);
    // Released means free: the window program takes the lock at once.
    auto window = std::make_unique<cli::UnitLock>(folder_.path().toStdString());
    ASSERT_EQ(window->take(cli::kWindowHolder, 0ms), cli::UnitLock::Result::Taken);
    EXPECT_EQ(monitor_->state(), Monitor::State::Released);
    EXPECT_EQ(monitor_->room(), nullptr);
    // qx77zt finds the window program, never a monitor without units.
    EXPECT_FALSE(endpointListens());

    // The window program ends: its connection closes while (here) its lock is still held, as a
    // crash could leave the two in either order. The monitor waits for the lock.
    client_.reset();
    ASSERT_TRUE(waitForState(Monitor::State::Taking));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (const std::string& line : log_) {
                if (line.find("the window program has it") != std::string::npos) {
                    return true;
                }
            }
            return false;
        },
        kPatienceMs));
    EXPECT_EQ(monitor_->room(), nullptr);
    window.reset();
    ASSERT_TRUE(waitForState(Monitor::State::Running));
    EXPECT_EQ(lockHolder(), cli::kMonitorHolder);
    EXPECT_TRUE(QTest::qWaitFor([this] { return connected(); }, kPatienceMs));
    EXPECT_TRUE(endpointListens());

    monitor_->stop();
    ASSERT_TRUE(waitForState(Monitor::State::Stopped));
    EXPECT_EQ(lockHolder(), "");
    EXPECT_EQ(calls_, (std::vector<std::string>{"started", "beforeRelease", "started", "afterTake",
                                                "stopping"}));
}

TEST_F(MonitorHandOver, ATransferUnderWayIsFinishedBeforeTheUnitsGo) {
    LinkState& link = monitor_->room()->unit(0).link();
    link.transferRunning = true;
    client_ = std::make_unique<MonitorClient>(
        SingleInstance::endpointName(QString::fromLatin1(kMonitorInstanceKey), folder_.path()),
        std::chrono::milliseconds(kPatienceMs));
    bool handingOver = false;
    QObject::connect(client_.get(), &MonitorClient::handingOver, [&] { handingOver = true; });
    client_->ask();
    ASSERT_TRUE(waitForState(Monitor::State::Releasing));
    EXPECT_TRUE(QTest::qWaitFor([&] { return handingOver; }, kPatienceMs));
    // Well past the monitor's 50 ms look: still driving the unit, still holding its lock.
    QTest::qWait(300);
    EXPECT_TRUE(client_->waiting());
    EXPECT_EQ(lockHolder(), cli::kMonitorHolder);
    EXPECT_EQ(calls_, std::vector<std::string>{"started"});

    link.transferRunning = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client_->waiting(); }, kPatienceMs));
    EXPECT_EQ(client_->outcome(), MonitorClient::Outcome::Released);
    EXPECT_EQ(lockHolder(), "");
    EXPECT_EQ(calls_, (std::vector<std::string>{"started", "beforeRelease"}));
}

TEST_F(MonitorHandOver, AStopDuringATransferWaitsForItsEnd) {
    LinkState& link = monitor_->room()->unit(0).link();
    link.transferRunning = true;
    monitor_->stop();
    QTest::qWait(300);
    EXPECT_EQ(monitor_->state(), Monitor::State::Stopping);
    EXPECT_EQ(lockHolder(), cli::kMonitorHolder);
    link.transferRunning = false;
    ASSERT_TRUE(waitForState(Monitor::State::Stopped));
    EXPECT_EQ(lockHolder(), "");
    EXPECT_EQ(calls_, (std::vector<std::string>{"started", "stopping"}));
}

TEST_F(MonitorHandOver, AWindowThatGoesBeforeTheUnitsAreHandedOverLeavesThemWithTheMonitor) {
    LinkState& link = monitor_->room()->unit(0).link();
    link.transferRunning = true;
    client_ = std::make_unique<MonitorClient>(
        SingleInstance::endpointName(QString::fromLatin1(kMonitorInstanceKey), folder_.path()),
        std::chrono::milliseconds(kPatienceMs));
    client_->ask();
    ASSERT_TRUE(waitForState(Monitor::State::Releasing));
    client_.reset();
    ASSERT_TRUE(waitForState(Monitor::State::Running));
    link.transferRunning = false;
    EXPECT_TRUE(endpointListens());
    EXPECT_EQ(lockHolder(), cli::kMonitorHolder);
    EXPECT_EQ(calls_, std::vector<std::string>{"started"});
}

TEST_F(MonitorHandOver, ASecondMonitorOfTheUserIsRefused) {
    MonitorSetup setup;
    setup.runtimeFolder = folder_.path().toStdString();
    setup.key = QString::fromLatin1(kMonitorInstanceKey);
    Monitor second(setup);
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(second.error().contains(QLatin1String("a monitor already runs")))
        << second.error().toStdString();
    EXPECT_TRUE(endpointListens());
}

// Which command lines run the monitor (the rest go to the command line's own parser, --help
// included), and what the monitor refuses.
struct ArgsCase {
    std::vector<std::string> args;
    bool monitor;
    bool refused;
    bool demo;
    int units;
};

TEST(MonitorArgs, OnlyTheMonitorCommandRunsIt) {
    const ArgsCase cases[] = {
        {{"monitor"}, true, false, false, 1},
        {{"--demo", "monitor", "--units", "4"}, true, false, true, 4},
        {{"monitor", "--demo", "--units=15"}, true, false, true, 15},
        {{"monitor", "--help"}, false, false, false, 1},
        {{"help", "monitor"}, false, false, false, 1},
        {{"status", "--watch"}, false, false, false, 1},
        {{"--serial", "monitor", "get"}, false, false, false, 1},
        {{"label", "--", "monitor"}, false, false, false, 1},
        {{}, false, false, false, 1},
        {{"monitor", "--units", "2"}, true, true, false, 1},
        {{"monitor", "--demo", "--units", "0"}, true, true, true, 1},
        {{"monitor", "--demo", "--units=16"}, true, true, true, 1},
        {{"monitor", "--demo", "--units", "2x"}, true, true, true, 1},
        {{"monitor", "--demo", "--units"}, true, true, true, 1},
        {{"monitor", "--json"}, true, true, false, 1},
        {{"monitor", "now"}, true, true, false, 1},
    };
    for (const ArgsCase& c : cases) {
        std::string line;
        for (const std::string& a : c.args) {
            line += a + " ";
        }
        const ParsedMonitorArgs parsed = parseMonitorArgs(c.args);
        EXPECT_EQ(parsed.monitor, c.monitor) << line;
        if (!c.monitor) {
            continue;
        }
        EXPECT_EQ(!parsed.args, c.refused) << line;
        EXPECT_EQ(parsed.error.empty(), !c.refused) << line << parsed.error;
        if (parsed.args) {
            EXPECT_EQ(parsed.args->demo, c.demo) << line;
            EXPECT_EQ(parsed.args->units, c.units) << line;
        }
    }
}

} // namespace
} // namespace qx::monitor
