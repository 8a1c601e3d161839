// SPDX-License-Identifier: GPL-3.0-or-later
// The log's times, its files' names and the times an operator types.
#include "LogFixture.h"
#include "eventlog/EventTime.h"

#include <cstdlib>
#include <ctime>

namespace qx::eventlog::test {
namespace {

TEST(EventTime, WritesUtcToTheMillisecondAndReadsItBack) {
    EXPECT_EQ(formatUtc(someTime()), "2026-12-11T03:12:45.120Z");
    EXPECT_EQ(formatUtc(someTime() + 999us), "2026-12-11T03:12:45.120Z");
    EXPECT_EQ(parseUtc("2026-12-11T03:12:45.120Z"), someTime());
    EXPECT_EQ(parseUtc("2026-12-11T03:12:45.12Z"), someTime());
    EXPECT_EQ(parseUtc("2026-12-11T03:12:45.120000001Z"), someTime() + 1ns);
    EXPECT_EQ(parseUtc("2026-12-11T03:12:45Z"), someTime() - 120ms);
    EXPECT_EQ(formatUtc(std::chrono::sys_days(std::chrono::year{1969} / 12 / 31) + 23h + 59min +
                        59s + 999ms),
              "1969-12-31T23:59:59.999Z");
    for (const char* bad :
         {"", "2026-12-11", "2026-12-11T03:12Z", "2026-12-11 03:12:45.120Z",
          "2026-12-11T03:12:45.120", "2026-12-11T03:12:45.120+01:00", "2026-13-11T03:12:45.120Z",
          "2026-12-32T03:12:45.120Z", "2026-12-11T03:60:45.120Z", "2026-12-11T03:12:45.Z",
          "2026-12-11T03:12:45.1234567890Z", "2026-12-11T03:12:45.120ZZ",
          "+026-12-11T03:12:45.120Z", "1899-12-11T03:12:45.120Z"}) {
        EXPECT_FALSE(parseUtc(bad)) << bad;
    }
}

TEST(EventTime, NamesOneFilePerUtcDay) {
    EXPECT_EQ(dailyFileName(someDay()), "events-2026-12-11.jsonl");
    EXPECT_EQ(utcDay(someTime()), someDay());
    EXPECT_EQ(dayOfFileName("events-2026-12-11.jsonl"), someDay());
    for (const char* bad : {"events-2026-12-11.json", "events-2026-12-11.jsonl~",
                            "events-2026-02-30.jsonl", "events-2026-1-11.jsonl", "x.jsonl",
                            "events-2026-12-11T00.jsonl", "events-2026-12-11.jsonl.part"}) {
        EXPECT_FALSE(dayOfFileName(bad)) << bad;
    }
}

// Runs with the TZ it is given, then puts back the one before.
class ZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            before_ = tz;
        }
    }
    void TearDown() override {
        if (before_) {
            ::setenv("TZ", before_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    static void zone(const char* tz) {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }

private:
    std::optional<std::string> before_;
};

TEST_F(ZoneTest, ReadsTheTimesAnOperatorTypes) {
    zone("UTC-1"); // one hour east of UTC, all year
    const TimePoint now = someTime();
    struct Row {
        const char* text;
        std::optional<TimePoint> want;
    };
    const std::chrono::sys_days day = someDay();
    const Row rows[] = {
        {"2h", now - 2h},
        {"30m", now - 30min},
        {"45s", now - 45s},
        {"3d", now - std::chrono::days(3)},
        {"2w", now - std::chrono::weeks(2)},
        {"0m", now},
        {"2026-12-11", day - 1h},
        {"2026-12-11T04:00", day + 3h},
        {"2026-12-11 04:00:30", day + 3h + 30s},
        {"2026-12-11T04:00:30.5", day + 3h + 30s + 500ms},
        {"2026-12-11T04:00Z", day + 4h},
        {"2026-12-11T04:00:00+02:00", day + 2h},
        {"2026-12-11T04:00-0130", day + 5h + 30min},
        {"2026-12-11T04:00:00.000Z", day + 4h},
        {"", std::nullopt},
        {"h", std::nullopt},
        {"2", std::nullopt},
        {"2y", std::nullopt},
        {"-2h", std::nullopt},
        {"2 h", std::nullopt},
        {"9999999w", std::nullopt},
        {"2026-12", std::nullopt},
        {"2026-02-30", std::nullopt},
        {"2026-12-11T25:00", std::nullopt},
        {"2026-12-11T04", std::nullopt},
        {"2026-12-11T04:00+25:00", std::nullopt},
        {"2026-12-11T04:00 ", std::nullopt},
        {"yesterday", std::nullopt},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(parseUserTime(r.text, now), r.want) << r.text;
    }
}

TEST_F(ZoneTest, ShowsLocalTime) {
    zone("UTC-1");
    EXPECT_EQ(formatLocal(someTime()), "2026-12-11 04:12:45");
    zone("UTC0");
    EXPECT_EQ(formatLocal(someTime()), "2026-12-11 03:12:45");
}

} // namespace
} // namespace qx::eventlog::test
