// SPDX-License-Identifier: GPL-3.0-or-later
// The alarm engine on a made-up clock: tables of samples and the transitions they must give.
#include "watch/AlarmEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qx::watch {
namespace {

using namespace std::chrono_literals;
using C = UnitCondition;

constexpr double kLoud = -10;
constexpr double kQuiet = -52;

AlarmRules allOn() {
    AlarmRules r;
    r[AlarmKind::Silence] = {true, 10s, 2s};
    r[AlarmKind::Over] = {true, 0s, 0s};
    r[AlarmKind::Lost] = {true, 5s, 2s};
    r[AlarmKind::BootLoader] = {true, 30s, 0s};
    r.silenceLevelDb = -50;
    return r;
}

// One step of a case: at `at` seconds, the unit is so, and these transitions follow
// ("+silence" raised, "-lost" cleared).
struct Step {
    double at;
    C condition = C::Answering;
    std::optional<double> left = kLoud;
    std::optional<double> right = kLoud;
    bool over = false;
    bool updating = false;
    std::vector<std::string> expect = {};
};

struct Case {
    std::string name;
    std::vector<Step> steps;
    AlarmRules rules = allOn();
};

std::string text(const AlarmTransition& t) {
    return (t.raised ? "+" : "-") + std::string(alarmWord(t.kind));
}

void run(const Case& c, AlarmEngine& engine, const std::string& unit = "unit") {
    const MonoClock::time_point t0{};
    for (const Step& s : c.steps) {
        SCOPED_TRACE(c.name + " at " + std::to_string(s.at) + " s");
        UnitSample sample;
        sample.time = t0 + std::chrono::duration_cast<MonoClock::duration>(
                               std::chrono::duration<double>(s.at));
        sample.condition = s.condition;
        sample.leftDb = s.left;
        sample.rightDb = s.right;
        sample.overLatched = s.over;
        sample.updating = s.updating;
        std::vector<std::string> got;
        for (const AlarmTransition& t : engine.feed(unit, c.rules, sample)) {
            got.push_back(text(t));
        }
        EXPECT_EQ(got, s.expect);
    }
}

TEST(AlarmEngine, Tables) {
    AlarmRules either = allOn();
    either.silenceChannels = SilenceChannels::Either;
    AlarmRules silenceOff = allOn();
    silenceOff[AlarmKind::Silence].on = false;

    const Case cases[] = {
        {"silence is raised after its hold-off, once",
         {{0, C::Answering, kQuiet, kQuiet},
          {9.9, C::Answering, kQuiet, kQuiet},
          {10, C::Answering, kQuiet, kQuiet, false, false, {"+silence"}},
          {11, C::Answering, kQuiet, kQuiet},
          {60, C::Answering, kQuiet, kQuiet}}},
        {"a burst of sound inside the hold-off starts it again",
         {{0, C::Answering, kQuiet, kQuiet},
          {8, C::Answering, kLoud, kQuiet},
          {9, C::Answering, kQuiet, kQuiet},
          {18.9, C::Answering, kQuiet, kQuiet},
          {19, C::Answering, kQuiet, kQuiet, false, false, {"+silence"}}}},
        {"silence clears once sound has been back for its clear time",
         {{0, C::Answering, kQuiet, kQuiet},
          {10, C::Answering, kQuiet, kQuiet, false, false, {"+silence"}},
          {11, C::Answering, kLoud, kLoud},
          {12, C::Answering, kQuiet, kQuiet},
          {13, C::Answering, kLoud, kLoud},
          {14.9, C::Answering, kLoud, kLoud},
          {15, C::Answering, kLoud, kLoud, false, false, {"-silence"}},
          // and is raised again after a whole new hold-off
          {16, C::Answering, kQuiet, kQuiet},
          {25.9, C::Answering, kQuiet, kQuiet},
          {26, C::Answering, kQuiet, kQuiet, false, false, {"+silence"}}}},
        {"both channels: one silent channel is no silence",
         {{0, C::Answering, kQuiet, kLoud}, {20, C::Answering, kQuiet, kLoud}}},
        {"either channel: one silent channel is",
         {{0, C::Answering, kLoud, kQuiet},
          {10, C::Answering, kLoud, kQuiet, false, false, {"+silence"}}},
         either},
        {"the level is the line: at it is not below it",
         {{0, C::Answering, -50, -50}, {20, C::Answering, -50, -50}}},
        {"a unit lost during silence: silence pauses, the lost alarm speaks",
         {{0, C::Answering, kQuiet, kQuiet},
          {10, C::Answering, kQuiet, kQuiet, false, false, {"+silence"}},
          {11, C::Lost, {}, {}},
          {16, C::Lost, {}, {}, false, false, {"+lost"}},
          {100, C::Lost, {}, {}},
          // back, still silent: silence stays raised, lost clears after its clear time
          {101, C::Answering, kQuiet, kQuiet},
          {103, C::Answering, kQuiet, kQuiet, false, false, {"-lost"}},
          {104, C::Answering, kLoud, kLoud},
          {106, C::Answering, kLoud, kLoud, false, false, {"-silence"}}}},
        {"a unit lost inside the hold-off gets a whole hold-off once back",
         {{0, C::Answering, kQuiet, kQuiet},
          {8, C::Lost, {}, {}},
          {9, C::Answering, kQuiet, kQuiet},
          {18.9, C::Answering, kQuiet, kQuiet},
          {19, C::Answering, kQuiet, kQuiet, false, false, {"+silence"}}}},
        {"no levels yet: silence waits", {{0, C::Answering, {}, {}}, {20, C::Answering, {}, {}}}},
        {"lost: raised after its hold-off, cleared once it answers long enough",
         {{0, C::Lost, {}, {}},
          {4.9, C::Lost, {}, {}},
          {5, C::Lost, {}, {}, false, false, {"+lost"}},
          {6, C::Answering},
          {7, C::Lost, {}, {}},
          {8, C::Answering},
          {10, C::Answering, kLoud, kLoud, false, false, {"-lost"}}}},
        {"over: raised with the latch, cleared with its acknowledgement",
         {{0, C::Answering, kLoud, kLoud, true, false, {"+over"}},
          {1, C::Lost, {}, {}, true},
          {2, C::Answering, kLoud, kLoud, true},
          {3, C::Answering, kLoud, kLoud, false, false, {"-over"}}}},
        {"boot loader outside an update",
         {{0, C::BootLoader, {}, {}},
          {29, C::BootLoader, {}, {}},
          {30, C::BootLoader, {}, {}, false, false, {"+boot-loader"}},
          {31, C::Answering, kLoud, kLoud, false, false, {"-boot-loader"}}}},
        {"boot loader and lost under an update: neither",
         {{0, C::BootLoader, {}, {}, false, true},
          {40, C::BootLoader, {}, {}, false, true},
          {41, C::Lost, {}, {}, false, true},
          {50, C::Lost, {}, {}, false, true},
          {51, C::Answering, kQuiet, kQuiet, false, true},
          {70, C::Answering, kQuiet, kQuiet, false, true},
          // the update over and the unit still in its boot loader: a whole hold-off
          {71, C::BootLoader, {}, {}},
          {100.9, C::BootLoader, {}, {}},
          {101, C::BootLoader, {}, {}, false, false, {"+boot-loader"}}}},
        {"an alarm off is never raised",
         {{0, C::Answering, kQuiet, kQuiet}, {60, C::Answering, kQuiet, kQuiet}},
         silenceOff},
        {"never connected: no lost alarm", {{0, C::Other, {}, {}}, {60, C::Other, {}, {}}}},
    };
    for (const Case& c : cases) {
        AlarmEngine engine;
        run(c, engine);
    }
}

TEST(AlarmEngine, SeveralUnitsAreJudgedApart) {
    AlarmEngine engine;
    const AlarmRules rules = allOn();
    AlarmRules shortSilence = rules;
    shortSilence[AlarmKind::Silence].after = 2s;
    const MonoClock::time_point t0{};
    const auto feed = [&](const std::string& unit, const AlarmRules& r, double at, double db,
                          C condition = C::Answering) {
        UnitSample s;
        s.time = t0 + std::chrono::milliseconds(static_cast<int>(at * 1000));
        s.condition = condition;
        if (condition == C::Answering) {
            s.leftDb = db;
            s.rightDb = db;
        }
        std::vector<std::string> got;
        for (const auto& t : engine.feed(unit, r, s)) {
            got.push_back(text(t));
        }
        return got;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(feed("A", rules, 0, kQuiet), V{});
    EXPECT_EQ(feed("B", shortSilence, 0, kQuiet), V{});
    EXPECT_EQ(feed("C", rules, 0, kLoud), V{});
    EXPECT_EQ(feed("B", shortSilence, 2, kQuiet), V{"+silence"});
    EXPECT_EQ(feed("A", rules, 2, kQuiet), V{});
    EXPECT_EQ(feed("C", rules, 3, 0, C::Lost), V{});
    EXPECT_EQ(feed("A", rules, 10, kQuiet), V{"+silence"});
    EXPECT_EQ(feed("C", rules, 8, 0, C::Lost), V{"+lost"});
    EXPECT_TRUE(engine.raised("A", AlarmKind::Silence));
    EXPECT_FALSE(engine.raised("C", AlarmKind::Silence));
    EXPECT_EQ(engine.raisedAlarms().size(), 3U);
    EXPECT_EQ(feed("B", shortSilence, 10, kLoud), V{});
    EXPECT_EQ(feed("B", shortSilence, 12, kLoud), V{"-silence"});
    EXPECT_TRUE(engine.raised("A", AlarmKind::Silence));
}

TEST(AlarmEngine, AnAlarmRaisedBeforeARestartIsClearedNotRaisedAgain) {
    AlarmEngine engine;
    engine.setRaised("unit", AlarmKind::Silence);
    engine.setRaised("unit", AlarmKind::Lost);
    const Case c{"after a restart",
                 {{0, C::Answering, kQuiet, kQuiet},
                  {1.9, C::Answering, kQuiet, kQuiet},
                  {2, C::Answering, kQuiet, kQuiet, false, false, {"-lost"}},
                  {20, C::Answering, kQuiet, kQuiet},
                  {23, C::Answering, kLoud, kLoud},
                  {25, C::Answering, kLoud, kLoud, false, false, {"-silence"}}}};
    run(c, engine);
}

TEST(AlarmEngine, TurningARuleOffClearsItsAlarm) {
    AlarmEngine engine;
    AlarmRules rules = allOn();
    UnitSample s;
    s.condition = C::Lost;
    s.time = MonoClock::time_point{} + 10s;
    engine.feed("u", rules, s);
    s.time += 5s;
    ASSERT_EQ(engine.feed("u", rules, s).size(), 1U);
    rules[AlarmKind::Lost].on = false;
    s.time += 1s;
    const auto out = engine.feed("u", rules, s);
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(text(out[0]), "-lost");
    EXPECT_FALSE(engine.raised("u", AlarmKind::Lost));
}

} // namespace
} // namespace qx::watch
