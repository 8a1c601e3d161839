// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV export: quoted by the rules, inert in a spreadsheet, whole or not at all.
#include "LogFixture.h"
#include "eventlog/EventCsv.h"
#include "eventlog/EventJson.h"
#include "eventlog/EventText.h"

namespace qx::eventlog::test {
namespace {

TEST(EventCsv, QuotesCellsAndDefusesFormulas) {
    struct Row {
        std::string text;
        std::string cell;
    };
    const Row rows[] = {
        {"Studio A", "Studio A"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"=1+2", "'=1+2"},
        {"+1", "'+1"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        {"a=b", "a=b"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(csvCell(r.text), r.cell) << r.text;
    }
}

TEST(EventCsv, MakesOneRowPerEvent) {
    watch::Event e = makeEvent(someTime(), "setting", "QX7700000042", "=cmd|' /C calc'!A0");
    e.texts = {{"setting", "source.left"}, {"from", "window"}, {"value", "SDI #1"}};
    e.numbers = {{"gain", -3.5}};
    EXPECT_EQ(csvHeader(), "time,unit,serial,kind,details\r\n");
    EXPECT_EQ(csvRow(e), "2026-12-11T03:12:45.120Z,'=cmd|' /C calc'!A0,QX7700000042,setting,"
                         "\"setting=source.left from=window value=\"\"SDI #1\"\" gain=-3.5\"\r\n");
}

class CsvExportTest : public LogFolderTest {};

TEST_F(CsvExportTest, WritesTheFilteredEventsAndLeavesNoHalfFile) {
    std::string lines;
    for (int i = 0; i < 4; ++i) {
        lines += formatEventLine(
                     makeEvent(someTime() + std::chrono::seconds(i), i % 2 ? "over" : "over-ack")) +
                 "\n";
    }
    write(dayFile(someDay()), lines);
    const std::filesystem::path to = root / "out.csv";
    const CsvExport done = exportCsv(EventReader(folder), {.kinds = {"over"}}, to);
    ASSERT_TRUE(done.ok) << done.error;
    EXPECT_EQ(done.rows, 2u);
    EXPECT_EQ(read(to), csvHeader() + "2026-12-11T03:12:46.120Z,Studio A,QX7700000042,over,\r\n" +
                            "2026-12-11T03:12:48.120Z,Studio A,QX7700000042,over,\r\n");

    // A stopped export leaves the earlier file as it was, and no part file.
    std::stop_source stop;
    stop.request_stop();
    const CsvExport stopped = exportCsv(EventReader(folder), {}, to, stop.get_token());
    EXPECT_FALSE(stopped.ok);
    EXPECT_EQ(done.rows, 2u);
    EXPECT_FALSE(std::filesystem::exists(root / "out.csv.part"));
    EXPECT_NE(read(to).find("over"), std::string::npos);

    const CsvExport nowhere = exportCsv(EventReader(folder), {}, root / "no" / "such" / "x.csv");
    EXPECT_FALSE(nowhere.ok);
    EXPECT_NE(nowhere.error.find("cannot create"), std::string::npos);
}

TEST(EventText, TellsAnEventInOneLine) {
    watch::Event e = makeEvent(someTime(), "setting", "QX1", "");
    e.texts = {{"value", "SDI #1"}, {"empty", ""}, {"q", "a\"b"}};
    e.numbers = {{"n", 2}, {"nan", std::numeric_limits<double>::quiet_NaN()}};
    EXPECT_EQ(eventDetails(e), "value=\"SDI #1\" empty=\"\" q=\"a\\\"b\" n=2 nan=-");
    EXPECT_EQ(unitShown(e), "QX1");
    e.serial.clear();
    EXPECT_EQ(unitShown(e), "-");
}

} // namespace
} // namespace qx::eventlog::test
