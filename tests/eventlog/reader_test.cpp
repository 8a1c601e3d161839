// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the log back: filters, the order, files skipped by their day, and following the log
// as it grows.
#include "LogFixture.h"
#include "eventlog/EventJson.h"
#include "eventlog/EventReader.h"

namespace qx::eventlog::test {
namespace {

class ReaderTest : public LogFolderTest {
protected:
    void SetUp() override {
        LogFolderTest::SetUp();
        // Two days, three units, one of the program's own.
        add(someTime() - 24h, "connected", "QX1", "Studio A");
        add(someTime() - 23h, "over", "QX1", "Studio A");
        add(someTime(), "alarm-raised", "QX2", "Rack 2");
        add(someTime() + 1min, "over", "QX2", "Rack 2");
        add(someTime() + 2min, "program", "", "");
        add(someTime() + 3min, "alarm-cleared", "qx3", "studio a"); // another unit, named alike
        add(someTime() + 4min, "summary", "QX1", "Studio A");
    }

    void add(TimePoint t, const char* kind, const char* serial, const char* unit) {
        const std::filesystem::path file = dayFile(utcDay(t));
        write(file, read(file) + formatEventLine(makeEvent(t, kind, serial, unit)) + "\n");
    }

    // The kinds read, in order.
    std::string kindsRead(const EventFilter& filter, ReadSummary* summary = nullptr,
                          const ReadOptions& options = {}) const {
        std::string out;
        const ReadSummary s = EventReader(folder).read(
            filter,
            [&out](const watch::Event& e, std::string_view line) {
                EXPECT_EQ(formatEventLine(e), line); // the line as stored
                out += (out.empty() ? "" : " ") + e.kind;
                return true;
            },
            options);
        if (summary != nullptr) {
            *summary = s;
        }
        return out;
    }
};

TEST_F(ReaderTest, FiltersByUnitKindAndTime) {
    struct Row {
        const char* name;
        EventFilter filter;
        const char* kinds;
    };
    const Row rows[] = {
        {"everything", {}, "connected over alarm-raised over program alarm-cleared summary"},
        {"by serial, any case", {.unit = "qx2"}, "alarm-raised over"},
        {"by name, any case", {.unit = "STUDIO A"}, "connected over alarm-cleared summary"},
        {"by serial exactly", {.unit = "QX1"}, "connected over summary"},
        {"a part is not a name", {.unit = "Studio"}, ""},
        {"no such unit", {.unit = "QX9"}, ""},
        {"one kind", {.kinds = {"over"}}, "over over"},
        {"two kinds", {.kinds = {"alarm-raised", "alarm-cleared"}}, "alarm-raised alarm-cleared"},
        {"since, inclusive", {.since = someTime() + 1min}, "over program alarm-cleared summary"},
        {"until, exclusive", {.until = someTime() + 1min}, "connected over alarm-raised"},
        {"between",
         {.since = someTime() - 23h, .until = someTime() + 2min},
         "over alarm-raised over"},
        {"all at once",
         {.unit = "rack 2", .kinds = {"over", "program"}, .since = someTime() - 1h},
         "over"},
        {"nothing in the range", {.since = someTime() + 1h, .until = someTime() + 2h}, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(kindsRead(r.filter), r.kinds) << r.name;
    }
}

TEST_F(ReaderTest, OpensOnlyTheFilesOfTheDaysAsked) {
    ReadSummary summary;
    kindsRead({.since = someTime()}, &summary);
    EXPECT_EQ(summary.files, 1u);
    kindsRead({.until = someDay()}, &summary);
    EXPECT_EQ(summary.files, 1u);
    kindsRead({.since = someDay() + std::chrono::days(5)}, &summary);
    EXPECT_EQ(summary.files, 0u);
    EXPECT_FALSE(summary.end);
}

TEST_F(ReaderTest, FollowsTheLogFromWhereTheLastReadEnded) {
    ReadSummary summary;
    kindsRead({}, &summary);
    ASSERT_TRUE(summary.end);
    EXPECT_EQ(summary.end->day, someDay());
    ReadOptions from;
    from.from = summary.end;
    EXPECT_EQ(kindsRead({}, &summary, from), "");
    EXPECT_EQ(summary.end, from.from);

    // Half a line being written is not read yet, nor passed.
    const std::string next = formatEventLine(makeEvent(someTime() + 5min, "over-ack"));
    write(dayFile(someDay()), read(dayFile(someDay())) + next.substr(0, 10));
    EXPECT_EQ(kindsRead({}, &summary, from), "");
    EXPECT_EQ(summary.end, from.from);
    EXPECT_EQ(summary.torn, 1u);
    write(dayFile(someDay()), read(dayFile(someDay())) + next.substr(10) + "\n");
    add(someTime() + 24h, "disconnected", "QX1", "Studio A");
    EXPECT_EQ(kindsRead({}, &summary, from), "over-ack disconnected");
    EXPECT_EQ(summary.end->day, someDay() + std::chrono::days(1));
}

TEST_F(ReaderTest, StopsWhenTheCallbackSaysSo) {
    int seen = 0;
    const ReadSummary summary = EventReader(folder).read(
        {}, [&seen](const watch::Event&, std::string_view) { return ++seen < 3; });
    EXPECT_EQ(seen, 3);
    EXPECT_TRUE(summary.stopped);
}

TEST_F(ReaderTest, AMissingFolderReadsAsNoEvents) {
    ReadSummary summary;
    folder = root / "nowhere";
    EXPECT_EQ(kindsRead({}, &summary), "");
    EXPECT_EQ(summary.files, 0u);
    EXPECT_TRUE(summary.problems.empty());
}

} // namespace
} // namespace qx::eventlog::test
