// SPDX-License-Identifier: GPL-3.0-or-later
// The watch over a room of virtual units on a made-up clock: the alarms raised once and cleared,
// the actions taken, the events handed on (connections, boot loader, settings and who changed
// them, overs and their acknowledgement, the minute's summary), and the raised alarms kept
// across a restart.
#include "link/EmbeddedImage.h"
#include "room/UnitKeys.h"
#include "room/UnitRoom.h"
#include "unit/VirtualBench.h"
#include "watch/UnitWatch.h"
#include "watch/WatchState.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace qx::watch {
namespace {

using namespace std::chrono_literals;

std::string serialOf(int n) {
    return "QX77000000" + std::to_string(10 + n);
}

struct ListSink : EventSink {
    std::vector<Event> events;
    void record(const Event& e) override { events.push_back(e); }
    std::vector<Event> of(std::string_view kind, const std::string& serial = {}) const {
        std::vector<Event> out;
        for (const Event& e : events) {
            if (e.kind == kind && (serial.empty() || e.serial == serial)) {
                out.push_back(e);
            }
        }
        return out;
    }
};

struct FakeNotifier : AlarmNotifier {
    std::vector<AlarmFacts> told;
    bool notify(const AlarmFacts& f) override {
        told.push_back(f);
        return true;
    }
};

struct FakeCommand : AlarmCommand {
    std::vector<AlarmFacts> ran;
    std::vector<std::string> words;
    void run(const std::vector<std::string>& w, Millis, const AlarmFacts& f) override {
        words = w;
        ran.push_back(f);
    }
};

double number(const Event& e, std::string_view key) {
    for (const auto& [k, v] : e.numbers) {
        if (k == key) {
            return v;
        }
    }
    return -1000;
}

struct WatchTest : ::testing::Test {
    unit::VirtualBench* bench = nullptr;
    std::unique_ptr<room::UnitRoom> room;
    ListSink sink;
    FakeNotifier notifier;
    FakeCommand command;
    std::unique_ptr<UnitWatch> watch;
    QTemporaryDir dir;
    MonoClock::time_point mono{std::chrono::hours(1000)};
    // 2026-12-11 12:00:00 UTC
    WallClock::time_point wall{std::chrono::seconds(1'796'990'400)};
    std::vector<std::string> problems;
    int units = 2;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        room::UnitRoom::Setup setup;
        setup.image = &embeddedHidImage;
        setup.libraryLoaded = [this](LoadedLibrary& library) {
            if (bench == nullptr) {
                bench = reinterpret_cast<decltype(&VUcontrol)>(library.symbol("VUcontrol"))();
                bench->unit(0).setIdentity(identity(0));
                for (int i = 1; i < units; ++i) {
                    bench->setPlugged(bench->addUnit(identity(i)), true);
                }
            } else {
                reinterpret_cast<decltype(&VUjoin)>(library.symbol("VUjoin"))(bench);
            }
        };
        setup.deviceEvent = [] {};
        room = std::make_unique<room::UnitRoom>(setup);
        ASSERT_TRUE(room->start()) << room->lastError();
        ASSERT_EQ(room->count(), units);
        for (int i = 0; i < units; ++i) {
            bench->unit(i).setLevelPattern(unit::LevelPattern::SteadyTone);
        }
    }
    void TearDown() override {
        watch.reset();
        room.reset();
    }
    static unit::Identity identity(int n) {
        unit::Identity id;
        id.serial = serialOf(n);
        return id;
    }
    std::filesystem::path stateFile() const {
        return std::filesystem::path(dir.path().toStdString()) / kWatchStateName;
    }
    static AlarmSettings allOn() {
        AlarmSettings s;
        s.rules[AlarmKind::Silence] = {true, 10s, 2s};
        s.rules[AlarmKind::Over] = {true, 0s, 0s};
        s.rules[AlarmKind::Lost] = {true, 5s, 2s};
        s.rules[AlarmKind::BootLoader] = {true, 30s, 0s};
        s.actions.command = {"/usr/local/bin/page", "--loud"};
        return s;
    }
    void startWatch(const AlarmSettings& settings = allOn()) {
        UnitWatch::Setup setup;
        setup.settings = settings;
        setup.notifier = &notifier;
        setup.command = &command;
        setup.stateFile = stateFile();
        setup.timer = false;
        setup.clock.mono = [this] { return mono; };
        setup.clock.wall = [this] { return wall; };
        setup.problem = [this](const std::string& p) { problems.push_back(p); };
        watch = std::make_unique<UnitWatch>(*room, sink, setup);
    }
    int indexOf(int n) const { return room->find(room::UnitKey{serialOf(n), {}}); }
    // Lets every unit answer a few times, then looks at every unit as the timer would.
    void settle(uint64_t answers = 3) {
        for (int i = 0; i < room->count(); ++i) {
            const RoomUnit& u = room->unit(i);
            if (!u.link().connected || u.link().bootMode) {
                continue;
            }
            const uint64_t from = u.link().answersStored();
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return u.link().answersStored() >= from + answers; }, 5000));
        }
        // The answers' queued hand-off reaches the watch.
        QTest::qWait(50);
        watch->tick();
    }
    void advance(std::chrono::milliseconds d) {
        mono += d;
        wall += d;
    }
    using RoomUnit = room::RoomUnit;
    std::vector<std::string> alarmsOf(std::string_view kind) const {
        std::vector<std::string> out;
        for (const Event& e : sink.of(kind)) {
            out.push_back(e.serial + " " + e.text("alarm"));
        }
        return out;
    }
};

using V = std::vector<std::string>;

TEST_F(WatchTest, SilenceIsRaisedOnceAfterItsHoldOffAndClearedWhenSoundIsBack) {
    startWatch();
    settle();
    bench->unit(indexOf(1)).setLevelPattern(unit::LevelPattern::Silence);
    settle();
    advance(9s);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised), V{});
    advance(1s);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised), V{serialOf(1) + " silence"});
    // Raised once: more silent answers and looks change nothing.
    advance(30s);
    settle(10);
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised), V{serialOf(1) + " silence"});
    ASSERT_EQ(notifier.told.size(), 1U);
    EXPECT_EQ(notifier.told[0].unit, serialOf(1));
    EXPECT_EQ(noticeBody(notifier.told[0]), "silence on both channels for 10 s (below -50 dB)");
    ASSERT_EQ(command.ran.size(), 1U);
    EXPECT_EQ(command.words, (V{"/usr/local/bin/page", "--loud"}));
    EXPECT_EQ(command.ran[0].serial, serialOf(1));
    const auto active = watch->activeAlarms();
    ASSERT_EQ(active.size(), 1U);
    EXPECT_EQ(active[0].unit, indexOf(1));
    EXPECT_EQ(active[0].kind, AlarmKind::Silence);
    EXPECT_EQ(active[0].since, wall - 40s);
    EXPECT_TRUE(watch->hasAlarm(indexOf(1)));
    EXPECT_FALSE(watch->hasAlarm(indexOf(0)));

    bench->unit(indexOf(1)).setLevelPattern(unit::LevelPattern::SteadyTone);
    settle();
    advance(2s);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmCleared), V{serialOf(1) + " silence"});
    const Event cleared = sink.of(kind::kAlarmCleared).at(0);
    EXPECT_EQ(cleared.text("channels"), "both");
    EXPECT_EQ(number(cleared, "level"), -50);
    EXPECT_EQ(notifier.told.size(), 2U);
    EXPECT_EQ(command.ran.size(), 2U);
    EXPECT_FALSE(command.ran[1].raised);
    EXPECT_TRUE(watch->activeAlarms().empty());
}

TEST_F(WatchTest, AUnitLostAndBackIsToldAndItsAlarmSpeaksWhileTheOtherGoesOn) {
    startWatch();
    settle();
    EXPECT_EQ(sink.of(kind::kConnected).size(), 2U);
    QSignalSpy changed(watch.get(), &UnitWatch::alarmsChanged);
    bench->setPlugged(indexOf(1), false);
    room->followDeviceChange();
    EXPECT_EQ(sink.of(kind::kDisconnected, serialOf(1)).size(), 1U);
    advance(5s);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised), V{serialOf(1) + " lost"});
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(noticeBody(notifier.told.at(0)), "unplugged or not answering for 5 s");

    bench->setPlugged(indexOf(1), true);
    room->followDeviceChange();
    EXPECT_EQ(sink.of(kind::kConnected, serialOf(1)).size(), 2U);
    settle();
    advance(2s);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmCleared), V{serialOf(1) + " lost"});
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised).size(), 1U);
}

TEST_F(WatchTest, TheBootLoaderOutsideAnUpdateRaisesItsAlarm) {
    startWatch();
    settle();
    bench->restart(indexOf(1), true);
    room->followDeviceChange();
    EXPECT_EQ(sink.of(kind::kBootLoader, serialOf(1)).size(), 1U);
    advance(29s);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised), V{});
    advance(1s);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised), V{serialOf(1) + " boot-loader"});
    // Under an update it would not: the window's wait for the unit counts as one.
    room->unit(indexOf(1)).link().updateInProgress = true;
    bench->restart(indexOf(1), false);
    room->followDeviceChange();
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmCleared), V{});
    room->unit(indexOf(1)).link().updateInProgress = false;
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmCleared), V{serialOf(1) + " boot-loader"});
}

TEST_F(WatchTest, SettingsChangesSayWhoMadeThem) {
    startWatch();
    settle();
    const int u = indexOf(0);
    const bool mute = room->unit(u).link().settings().muteOn;
    room->unit(u).link().save([](DeviceSettings& s) { s.muteOn = !s.muteOn; },
                              ChangeOrigin::CommandLine);
    ASSERT_TRUE(QTest::qWaitFor([&] { return room->unit(u).link().writeAcked(); }, 5000));
    settle();
    // On the unit's own front panel.
    DeviceSettings panel = bench->unit(u).settings();
    panel.dimMode = 1;
    bench->unit(u).setSettings(panel);
    settle();
    const auto changes = sink.of(kind::kSetting, serialOf(0));
    ASSERT_EQ(changes.size(), 2U);
    EXPECT_EQ(changes[0].text("setting"), "mute");
    EXPECT_EQ(changes[0].text("old"), mute ? "on" : "off");
    EXPECT_EQ(changes[0].text("new"), mute ? "off" : "on");
    EXPECT_EQ(changes[0].text("from"), "command line");
    EXPECT_EQ(changes[1].text("setting"), "dim");
    EXPECT_EQ(changes[1].text("new"), "-20 dB");
    EXPECT_EQ(changes[1].text("from"), "unit");
    EXPECT_TRUE(sink.of(kind::kSetting, serialOf(1)).empty());
}

TEST_F(WatchTest, AnOverIsLatchedRaisedAndAcknowledged) {
    startWatch();
    settle();
    // The room keeps the latches of the units the window does not show.
    const int u = indexOf(1);
    ASSERT_NE(room->shown(), u);
    bench->unit(u).setLevelPattern(unit::LevelPattern::Overload);
    settle(6);
    bench->unit(u).setLevelPattern(unit::LevelPattern::SteadyTone);
    settle();
    EXPECT_EQ(alarmsOf(kind::kAlarmRaised), V{serialOf(1) + " over"});
    const auto overs = sink.of(kind::kOver, serialOf(1));
    ASSERT_EQ(overs.size(), 2U);
    room->clearOver(u, -1);
    settle();
    EXPECT_EQ(sink.of(kind::kOverAcknowledged, serialOf(1)).size(), 2U);
    EXPECT_EQ(alarmsOf(kind::kAlarmCleared), V{serialOf(1) + " over"});
}

TEST_F(WatchTest, EachMinuteIsSummedUpPerUnit) {
    AlarmSettings s = allOn();
    s.rules[AlarmKind::Silence].on = false; // silence counted below -50 dB then
    bench->unit(indexOf(1)).setLevelPattern(unit::LevelPattern::Silence);
    wall -= 10s; // 11:59:50
    startWatch(s);
    settle();
    advance(10s); // 12:00:00: only the silent unit's newer answers count in this minute
    settle();
    // Readings a second apart, as far as the watch can tell.
    for (int i = 0; i < 8; ++i) {
        advance(1s);
        settle(1);
    }
    const auto before = sink.of(kind::kSummary).size();
    advance(52s); // the turn of the minute
    watch->tick();
    EXPECT_EQ(sink.of(kind::kSummary).size(), before + 2);
    const auto loud = sink.of(kind::kSummary, serialOf(0)).back();
    const auto silentAll = sink.of(kind::kSummary, serialOf(1));
    const std::vector<Event> silent = {silentAll.back()};
    EXPECT_EQ(silent[0].time, WallClock::time_point(std::chrono::seconds(1'796'990'400)));
    EXPECT_EQ(number(silent[0], "left-db"), -52);
    EXPECT_EQ(number(silent[0], "right-db"), -52);
    EXPECT_EQ(number(silent[0], "overs"), 0);
    EXPECT_GE(number(silent[0], "seconds"), 7);
    EXPECT_LE(number(silent[0], "seconds"), 8);
    EXPECT_EQ(number(silent[0], "silence-s"), number(silent[0], "seconds"));
    EXPECT_GE(number(loud, "left-db"), 0);
    EXPECT_EQ(number(loud, "silence-s"), 0);

    // A flush hands on the minute under way, with the seconds it covers.
    for (int i = 0; i < 3; ++i) {
        advance(1s);
        settle(1);
    }
    watch->flush();
    const auto partial = sink.of(kind::kSummary, serialOf(1));
    ASSERT_EQ(partial.size(), silentAll.size() + 1);
    EXPECT_EQ(partial.back().time, WallClock::time_point(std::chrono::seconds(1'796'990'460)));
    EXPECT_GE(number(partial.back(), "seconds"), 1);
    EXPECT_LE(number(partial.back(), "seconds"), 2);
}

TEST_F(WatchTest, RaisedAlarmsSurviveARestartAndAreClearedNotRaisedTwice) {
    startWatch();
    settle();
    bench->setPlugged(indexOf(1), false);
    room->followDeviceChange();
    advance(5s);
    settle();
    ASSERT_EQ(alarmsOf(kind::kAlarmRaised), V{serialOf(1) + " lost"});
    const WatchStateLoad kept = loadWatchState(stateFile());
    ASSERT_EQ(kept.alarms.size(), 1U);
    EXPECT_EQ(kept.alarms[0].unit, serialOf(1));
    EXPECT_EQ(kept.alarms[0].since, wall - 5s);

    // The program starts again (or takes the units over).
    watch.reset();
    sink.events.clear();
    notifier.told.clear();
    advance(60s);
    startWatch();
    auto active = watch->activeAlarms();
    ASSERT_EQ(active.size(), 1U);
    EXPECT_EQ(active[0].unit, indexOf(1));
    EXPECT_EQ(active[0].kind, AlarmKind::Lost);
    EXPECT_EQ(active[0].since, wall - 65s);
    advance(10s);
    settle();
    EXPECT_TRUE(sink.of(kind::kAlarmRaised).empty());
    bench->setPlugged(indexOf(1), true);
    room->followDeviceChange();
    settle();
    advance(2s);
    settle();
    EXPECT_TRUE(sink.of(kind::kAlarmRaised).empty());
    EXPECT_EQ(alarmsOf(kind::kAlarmCleared), V{serialOf(1) + " lost"});
    EXPECT_TRUE(loadWatchState(stateFile()).alarms.empty());
    EXPECT_TRUE(problems.empty());
}

TEST_F(WatchTest, ADamagedStateFileIsReportedAndIgnored) {
    std::filesystem::create_directories(stateFile().parent_path());
    std::ofstream(stateFile()) << "qx77zt watch state 1\nraised thunder QX7700000011 0\n";
    startWatch();
    EXPECT_TRUE(watch->activeAlarms().empty());
    ASSERT_EQ(problems.size(), 1U);
    EXPECT_NE(problems[0].find("damaged"), std::string::npos) << problems[0];
}

TEST_F(WatchTest, TurningAnAlarmOffClearsIt) {
    startWatch();
    settle();
    bench->setPlugged(indexOf(1), false);
    room->followDeviceChange();
    advance(5s);
    settle();
    ASSERT_EQ(watch->activeAlarms().size(), 1U);
    AlarmSettings s = allOn();
    s.rules[AlarmKind::Lost].on = false;
    watch->setSettings(s);
    watch->tick();
    EXPECT_EQ(alarmsOf(kind::kAlarmCleared), V{serialOf(1) + " lost"});
    EXPECT_TRUE(watch->activeAlarms().empty());
}

TEST_F(WatchTest, FailedActionsAreLogged) {
    startWatch();
    AlarmFacts f;
    f.kind = AlarmKind::Lost;
    f.raised = false;
    f.unit = "Studio A";
    f.serial = serialOf(0);
    watch->actionFailed(f, "ended with exit status 3");
    watch->noticesFailed("desktop notifications: no session bus");
    const auto program = sink.of(kind::kProgram);
    ASSERT_EQ(program.size(), 2U);
    EXPECT_EQ(program[0].unit, "Studio A");
    EXPECT_EQ(program[0].serial, serialOf(0));
    EXPECT_EQ(program[0].text("action"), "command");
    EXPECT_EQ(program[0].text("alarm"), "lost");
    EXPECT_EQ(program[0].text("state"), "cleared");
    EXPECT_EQ(program[0].text("problem"), "ended with exit status 3");
    EXPECT_EQ(program[1].serial, "");
    EXPECT_EQ(program[1].text("action"), "notify");
}

TEST(WatchParts, UnitStatesInTheAlarmsTerms) {
    using S = room::UnitState;
    using C = UnitCondition;
    const struct {
        S state;
        bool ever;
        C condition;
    } cases[] = {
        {S::Connected, true, C::Answering}, {S::BootLoader, false, C::BootLoader},
        {S::Unplugged, true, C::Lost},      {S::NotAnswering, true, C::Lost},
        {S::NoAccess, true, C::Lost},       {S::Unplugged, false, C::Other},
        {S::Refused, false, C::Other},      {S::Updating, true, C::Other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(conditionOf(c.state, c.ever), c.condition) << room::stateWord(c.state);
    }
}

TEST(WatchParts, TheStateFileReadsBackAndRefusesWhatItCannotHaveWritten) {
    const std::vector<RaisedAlarm> alarms = {
        {"QX7700000042", AlarmKind::Lost, WallClock::time_point(std::chrono::seconds(5))},
        {"QX77 at usb 1-2", AlarmKind::Silence, WallClock::time_point(std::chrono::seconds(0))},
    };
    const std::string text = formatWatchState(alarms);
    const auto bytes = [](const std::string& s) {
        return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    const WatchStateParse p = parseWatchState(bytes(text));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.alarms, alarms);
    for (const std::string& bad :
         {std::string("qx77zt watch state 2\n"), std::string("qx77zt watch state 1\nraised lost\n"),
          std::string("qx77zt watch state 1\nraised loud x 1\n"),
          std::string("qx77zt watch state 1\nraised lost x 1"),
          std::string("qx77zt watch state 1\nraised lost x 1.5\n"),
          std::string("qx77zt watch state 1\nraised lost x -1\n"),
          // past what the clock holds
          std::string("qx77zt watch state 1\nraised lost x 9997160400000\n")}) {
        EXPECT_FALSE(parseWatchState(bytes(bad)).ok) << bad;
    }
}

} // namespace
} // namespace qx::watch
