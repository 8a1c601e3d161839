// SPDX-License-Identifier: GPL-3.0-or-later
// The meters' memory on a fake clock: times are plain milliseconds from an arbitrary start.
#include "levels/HistoryView.h"
#include "levels/LevelRing.h"
#include "levels/LevelScale.h"
#include "levels/LevelText.h"
#include "levels/OverLatch.h"
#include "levels/PeakHold.h"
#include "levels/ReadingAnnouncer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <locale>
#include <optional>
#include <string>
#include <vector>

namespace qx::levels {
namespace {

using std::chrono::milliseconds;
const PeakHold::Clock::time_point kStart{std::chrono::hours(5)};

PeakHold::Clock::time_point at(int ms) {
    return kStart + milliseconds(ms);
}

TEST(LevelScale, ReadingsAsNumbers) {
    struct Case {
        int level;
        std::optional<double> db;
    };
    for (const Case c :
         {Case{-128, -52}, Case{-36, -52}, Case{-35, -52}, Case{-14, -10}, Case{-9, -5.4},
          Case{-1, -0.5}, Case{0, 0}, Case{12, 7.4}, Case{13, 8}, Case{14, std::nullopt}}) {
        EXPECT_EQ(levelDb(c.level), c.db) << c.level;
    }
}

TEST(LevelScale, PositionOfAnyDbValue) {
    struct Case {
        double db;
        double level;
    };
    // Between readings the position moves proportionally: -9.5 dB lies halfway between the
    // readings "-10" (level -14) and "-9" (level -13).
    for (const Case c : {Case{-80, -35}, Case{-52, -35}, Case{-51, -34.5}, Case{-9.5, -13.5},
                         Case{0, 0}, Case{0.25, 0.5}, Case{8, 13}, Case{20, 13}}) {
        EXPECT_DOUBLE_EQ(levelForDb(c.db), c.level) << c.db;
    }
    EXPECT_DOUBLE_EQ(barPosition(12), 154);
    EXPECT_DOUBLE_EQ(barPosition(-36), 0);
}

// Readings fed to a peak hold and the marker expected at given times.
struct PeakStep {
    int ms;
    std::optional<double> reading;  // fed at ms
    std::optional<double> expected; // else: the marker at ms
};
struct PeakCase {
    const char* name;
    std::vector<PeakStep> steps;
};

TEST(PeakHold, HoldsTwoSecondsThenFallsAboutTwentyDbIn1700Ms) {
    constexpr double kFall = PeakHold::kFallDbPerSecond;
    const std::vector<PeakCase> cases = {
        {"holds the highest reading for two seconds",
         {{0, -16, {}}, {100, -30, {}}, {1000, {}, -16}, {2000, {}, -16}}},
        {"then falls about 20 dB in 1.7 s",
         {{0, 0, {}}, {2000, {}, 0}, {2850, {}, -10}, {3700, {}, -20}}},
        {"stops falling at readings that keep coming",
         {{0, -10, {}},
          {1000, -30, {}},
          {2000, -30, {}},
          {2500, -30, -10 - 0.5 * kFall},
          {4000, -30, -30}}},
        {"a higher reading starts a new hold",
         {{0, -20, {}},
          {1500, -6, {}},
          {3000, {}, -6},
          {3500, {}, -6},
          {3600, {}, -6 - 0.1 * kFall}}},
        {"a lower reading in the hold takes over when it is higher than the fall",
         {{0, 0, {}}, {50, -1, {}}, {500, -2, {}}, {2300, {}, -2}, {2600, {}, -2 - 0.1 * kFall}}},
        {"gone below the lowest reading",
         {{0, -50, {}}, {2100, {}, -50 - 0.1 * kFall}, {2200, {}, std::nullopt}}},
        {"a reading older than the last one is ignored",
         {{1000, -20, {}}, {500, 5, {}}, {1000, {}, -20}}},
        {"nothing read", {{0, {}, std::nullopt}}},
    };
    for (const PeakCase& c : cases) {
        SCOPED_TRACE(c.name);
        PeakHold hold;
        for (const PeakStep& s : c.steps) {
            if (s.reading) {
                hold.add(at(s.ms), *s.reading);
            }
            if (s.expected || !s.reading) {
                const std::optional<double> got = hold.at(at(s.ms));
                ASSERT_EQ(got.has_value(), s.expected.has_value()) << s.ms;
                if (got) {
                    EXPECT_NEAR(*got, *s.expected, 1e-9) << s.ms;
                }
            }
        }
    }
}

TEST(PeakHold, StaysSmallOverALongProgramme) {
    PeakHold hold;
    // An hour of a rising and falling programme at 10 Hz: the marker never drops below the
    // reading just taken, and clear() forgets everything.
    for (int k = 0; k < 36000; ++k) {
        const double db = -40 + (k % 97) * 0.5;
        hold.add(at(100 * k), db);
        const std::optional<double> m = hold.at(at(100 * k));
        ASSERT_TRUE(m.has_value());
        ASSERT_GE(*m, db);
    }
    hold.clear();
    EXPECT_EQ(hold.at(at(100 * 36000)), std::nullopt);
}

TEST(OverLatch, SetByTheTopOfTheTableUntilCleared) {
    using Wall = OverLatch::WallClock;
    const auto wall = [](int s) {
        return Wall::time_point(std::chrono::seconds(1'800'000'000 + s));
    };
    struct Step {
        int level;
        bool sets;
        bool latched;
        int count;
    };
    OverLatch latch;
    const std::vector<Step> steps = {{12, false, false, 0}, {14, false, false, 0},
                                     {13, true, true, 1},   {-40, false, true, 1},
                                     {13, false, true, 2},  {0, false, true, 2}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(latch.note(steps[i].level, wall(static_cast<int>(i))), steps[i].sets) << i;
        EXPECT_EQ(latch.latched(), steps[i].latched) << i;
        EXPECT_EQ(latch.count(), steps[i].count) << i;
    }
    EXPECT_EQ(latch.first(), wall(2));
    EXPECT_EQ(latch.last(), wall(4));

    latch.clear();
    EXPECT_FALSE(latch.latched());
    EXPECT_EQ(latch.first(), std::nullopt);
    EXPECT_EQ(latch.count(), 0);
    EXPECT_TRUE(latch.note(13, wall(9)));
    EXPECT_EQ(latch.first(), wall(9));
}

LevelSample sample(int64_t ms, int left, int right = -20) {
    return {ms, 1'800'000'000'000 + ms, static_cast<int8_t>(left), static_cast<int8_t>(right)};
}

TEST(ReadingAnnouncer, AtMostOnceASecondUnlessAnOverStarts) {
    using U = ReadingAnnouncer::Urgency;
    struct Step {
        int ms;
        const char* text;
        U urgency;
        bool told;
    };
    // Readings ten times a second, as the unit answers.
    const Step steps[] = {
        {0, "-22 dB", U::Routine, true},         // the first reading is told
        {100, "-20 dB", U::Routine, false},      // held back: within the second
        {900, "-18 dB", U::Routine, false},      //
        {1000, "-18 dB", U::Routine, true},      // the second is up: the text of now
        {1100, "-18 dB", U::Routine, false},     // unchanged
        {3000, "-18 dB", U::Routine, false},     // unchanged, however long
        {3100, "-16 dB", U::Routine, true},      // a change after a quiet second
        {3200, "8 dB, over", U::Now, true},      // an over starts: at once
        {3300, "8 dB, over", U::Now, false},     // but an unchanged text is never told twice
        {3400, "7 dB, over", U::Routine, false}, //
        {3500, "7 dB", U::Now, true},            // the operator cleared the over
        {4400, "6 dB", U::Routine, false},       //
        {4500, "6 dB", U::Routine, true},        //
    };
    ReadingAnnouncer announcer;
    for (const Step& s : steps) {
        EXPECT_EQ(announcer.due(at(s.ms), s.text, s.urgency), s.told) << s.ms << " " << s.text;
    }
}

TEST(LevelRing, BoundedByCountAndByTenMinutes) {
    struct Case {
        const char* name;
        int readings;
        int spacingMs;
        std::size_t size;
    };
    for (const Case c : {Case{"an hour at 10 Hz keeps the last 6000", 36000, 100, 6000},
                         Case{"twenty minutes at 1 Hz keeps ten minutes", 1200, 1000, 601},
                         Case{"a short run keeps all", 50, 100, 50}}) {
        SCOPED_TRACE(c.name);
        LevelRing ring;
        for (int k = 0; k < c.readings; ++k) {
            ring.add(sample(int64_t{k} * c.spacingMs, k % 40 - 30));
        }
        EXPECT_EQ(ring.size(), c.size);
        EXPECT_EQ(ring.capacity(), LevelRing::kCapacity);
        EXPECT_EQ(ring.newest().monoMs, int64_t{c.readings - 1} * c.spacingMs);
        EXPECT_EQ(ring[0].monoMs,
                  int64_t{c.readings} * c.spacingMs - int64_t(c.size) * c.spacingMs);
        for (std::size_t i = 1; i < ring.size(); ++i) {
            ASSERT_EQ(ring[i].monoMs - ring[i - 1].monoMs, c.spacingMs);
        }
    }
}

TEST(LevelRing, CloseReadingsMergeKeepingThePeakAndTheOver) {
    LevelRing ring;
    ring.add(sample(0, -20, -30));
    ring.add(sample(30, 13, -35));
    ring.add(sample(60, -10, -25));
    ring.add(sample(-10, 5, 5)); // older than the last: dropped
    ASSERT_EQ(ring.size(), 1u);
    EXPECT_EQ(ring[0].left, 13);
    EXPECT_EQ(ring[0].right, -25);
    EXPECT_TRUE(ring[0].overLeft());
    EXPECT_FALSE(ring[0].overRight());
    ring.add(sample(90, -20));
    EXPECT_EQ(ring.size(), 2u);
    EXPECT_THROW(ring[2], std::out_of_range);
}

TEST(LevelRing, GapsWhereReadingsStopped) {
    LevelRing ring;
    for (const int64_t ms : {0, 100, 200, 700, 1201, 1300, 61300}) {
        ring.add(sample(ms, -20));
    }
    const std::vector<bool> gaps = {false, false, false, false, true, false, true};
    for (std::size_t i = 0; i < ring.size(); ++i) {
        EXPECT_EQ(ring.gapBefore(i), gaps[i]) << i;
    }
    EXPECT_EQ(ring.lowerBound(-5), 0u);
    EXPECT_EQ(ring.lowerBound(150), 2u);
    EXPECT_EQ(ring.lowerBound(1300), 5u);
    EXPECT_EQ(ring.lowerBound(70000), ring.size());
}

TEST(LevelText, DbAndMeterSentences) {
    struct Case {
        const char* side;
        int level;
        std::optional<double> peak;
        bool over;
        const char* text;
    };
    for (const Case c : {Case{"Left", -20, -16, true, "Left level -22 dB, peak -16 dB, over"},
                         Case{"Right", -9, std::nullopt, false, "Right level -5.4 dB"},
                         Case{"Left", -128, std::nullopt, false, "Left level -52 dB"},
                         Case{"Left", 13, 8, true, "Left level 8 dB, peak 8 dB, over"},
                         Case{"Right", 0, -0.04, false, "Right level 0 dB, peak 0 dB"},
                         Case{"Right", -30, -17.26, false, "Right level -42 dB, peak -17.3 dB"}}) {
        EXPECT_EQ(meterSentence(c.side, c.level, c.peak, c.over), c.text);
    }
}

// A fixed time zone for the test's duration.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> old_;
};

TEST(LevelText, IsoLocalTimeWithMilliseconds) {
    struct Case {
        const char* zone;
        int64_t ms;
        const char* text;
    };
    // 1'796'917'327'300 ms is 2026-12-10 15:42:07.300 UTC; 1'783'179'727'005 is 2026-07-04
    // 15:42:07.005 UTC.
    for (const Case c :
         {Case{"UTC0", 1'796'917'327'300, "2026-12-10T15:42:07.300+00:00"},
          Case{"CET-1CEST,M3.5.0,M10.5.0/3", 1'796'917'327'300, "2026-12-10T16:42:07.300+01:00"},
          Case{"CET-1CEST,M3.5.0,M10.5.0/3", 1'783'179'727'005, "2026-07-04T17:42:07.005+02:00"},
          Case{"<-0330>3:30", 1'796'917'327'999, "2026-12-10T12:12:07.999-03:30"},
          Case{"UTC0", -1, "1969-12-31T23:59:59.999+00:00"}}) {
        ZoneGuard zone(c.zone);
        EXPECT_EQ(isoLocalTime(c.ms), c.text) << c.zone;
    }
}

// Numbers as a German desktop writes them: a decimal comma and a dot between thousands.
struct CommaNumbers : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(LevelText, CsvUsesTheDotInEveryLocale) {
    ZoneGuard zone("UTC0");
    LevelRing ring;
    const int64_t wall = 1'796'917'327'300;
    ring.add({0, wall, -9, -128});
    ring.add({100, wall + 100, 13, 1});
    ring.add({200, wall + 200, -1, 13});
    const std::string expected = "time,left_db,right_db,over_left,over_right\n"
                                 "2026-12-10T15:42:07.300+00:00,-5.4,-52,0,0\n"
                                 "2026-12-10T15:42:07.400+00:00,8,0.5,1,0\n"
                                 "2026-12-10T15:42:07.500+00:00,-0.5,8,0,1\n";
    EXPECT_EQ(historyCsv(ring), expected);

    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaNumbers));
    EXPECT_EQ(historyCsv(ring), expected);
    EXPECT_EQ(dbText(-17.26), "-17.3");
    std::locale::global(previous);

    EXPECT_EQ(historyCsv(LevelRing{}), "time,left_db,right_db,over_left,over_right\n");
}

TEST(HistoryView, ZoomAndScrollStayWithinTheTenMinutes) {
    constexpr int64_t now = 1'000'000;
    constexpr int64_t oldest = now - 300'000; // five minutes recorded
    struct Step {
        const char* what;
        std::function<void(HistoryView&)> act;
        int64_t span;
        bool live;
        int64_t end;
    };
    const std::vector<Step> steps = {
        {"starts live over two minutes", [](HistoryView&) {}, 120'000, true, now},
        {"zoom in", [](HistoryView& v) { v.zoom(0.5); }, 60'000, true, now},
        {"no closer than 10 s", [](HistoryView& v) { v.zoom(0.01); }, 10'000, true, now},
        {"back in time", [](HistoryView& v) { v.scrollBy(-30'000, now, oldest); }, 10'000, false,
         now - 30'000},
        {"not before the oldest reading", [](HistoryView& v) { v.scrollBy(-900'000, now, oldest); },
         10'000, false, oldest + 10'000},
        {"no wider than ten minutes", [](HistoryView& v) { v.zoom(100); }, 600'000, false,
         oldest + 10'000},
        {"reaching now follows again", [](HistoryView& v) { v.scrollBy(2'000'000, now, oldest); },
         600'000, true, now},
        {"scrolled away, then told to follow",
         [](HistoryView& v) {
             v.zoom(0.1);
             v.scrollTo(now - 100'000, now, oldest);
             v.follow();
         },
         60'000, true, now},
    };
    HistoryView view;
    for (const Step& s : steps) {
        s.act(view);
        EXPECT_EQ(view.spanMs(), s.span) << s.what;
        EXPECT_EQ(view.live(), s.live) << s.what;
        EXPECT_EQ(view.endMs(now), s.end) << s.what;
        EXPECT_EQ(view.startMs(now), s.end - s.span) << s.what;
    }
}

TEST(HistoryView, ColumnsKeepPeaksOversAndGaps) {
    LevelRing ring;
    // Ten seconds into ten columns of one second: a short over in column 2, the unit away from
    // 4.0 to 6.5 s, and nothing after 8 s while "now" is 10 s.
    for (int64_t ms = 0; ms <= 8000; ms += 100) {
        if (ms > 4000 && ms < 6500) {
            continue;
        }
        const int left = ms == 2300 ? 13 : -20 + static_cast<int>(ms / 1000);
        ring.add(sample(ms, left, -30));
    }
    const std::vector<HistoryColumn> cols = gatherColumns(ring, 0, 10'000, 10, 10'000);
    ASSERT_EQ(cols.size(), 10u);
    struct Expect {
        bool has;
        int min, max;
        bool over, gap, breakBefore;
    };
    const Expect expect[10] = {
        {true, -20, -20, false, false, false}, {true, -19, -19, false, false, false},
        {true, -18, 13, true, false, false},   {true, -17, -17, false, false, false},
        {true, -16, -16, false, true, false},  {false, 0, 0, false, true, false},
        {true, -14, -14, false, true, true},   {true, -13, -13, false, false, false},
        {true, -12, -12, false, true, false},  {false, 0, 0, false, true, false},
    };
    for (std::size_t c = 0; c < 10; ++c) {
        const Expect& e = expect[c];
        EXPECT_EQ(cols[c].left.has, e.has) << c;
        if (e.has) {
            EXPECT_EQ(cols[c].left.min, e.min) << c;
            EXPECT_EQ(cols[c].left.max, e.max) << c;
            EXPECT_EQ(cols[c].right.max, -30) << c;
        }
        EXPECT_EQ(cols[c].left.over, e.over) << c;
        EXPECT_FALSE(cols[c].right.over) << c;
        EXPECT_EQ(cols[c].gap, e.gap) << c;
        EXPECT_EQ(cols[c].breakBefore, e.breakBefore) << c;
    }
    // A view before every reading, and degenerate sizes.
    const std::vector<HistoryColumn> early = gatherColumns(ring, -20'000, -10'000, 4, 10'000);
    EXPECT_EQ(early.size(), 4u);
    EXPECT_FALSE(early[3].left.has);
    EXPECT_TRUE(gatherColumns(ring, 0, 10'000, 0, 10'000).empty());
    EXPECT_EQ(gatherColumns(ring, 5, 5, 3, 10'000).size(), 3u);
}

} // namespace
} // namespace qx::levels
