// SPDX-License-Identifier: GPL-3.0-or-later
// One event per line and back: what the writer makes, the reader takes, and what the reader
// refuses.
#include "LogFixture.h"
#include "eventlog/EventJson.h"

#include <cmath>
#include <limits>

namespace qx::eventlog::test {
namespace {

TEST(EventJson, WritesTheFixedFieldsThenTextsThenNumbers) {
    watch::Event e = makeEvent(someTime(), "alarm-raised");
    e.texts = {{"alarm", "silence"}, {"state", "raised"}};
    e.numbers = {{"level", -50.5},
                 {"overs", 3},
                 {"peak", std::numeric_limits<double>::infinity()},
                 {"gone", std::numeric_limits<double>::quiet_NaN()}};
    EXPECT_EQ(formatEventLine(e),
              "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"alarm-raised\","
              "\"serial\":\"QX7700000042\",\"unit\":\"Studio A\",\"alarm\":\"silence\","
              "\"state\":\"raised\",\"level\":-50.5,\"overs\":3,\"peak\":null,\"gone\":null}");
}

TEST(EventJson, EscapesTextsAndReplacesBytesThatAreNotUtf8) {
    struct Row {
        std::string text;
        std::string json;
    };
    const Row rows[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\nbreak\ttab\rcr", "\"line\\nbreak\\ttab\\rcr\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"\x1b[31m", "\"\\u001b[31m\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\x9a",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\x9a\""},
        {"bad \xff byte", "\"bad \xef\xbf\xbd byte\""},
        {"cut \xe2\x82", "\"cut \xef\xbf\xbd\xef\xbf\xbd\""},
        {"overlong \xc0\xaf", "\"overlong \xef\xbf\xbd\xef\xbf\xbd\""},
        {"surrogate \xed\xa0\x80", "\"surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(jsonQuoted(r.text), r.json) << r.json;
        // Whatever the writer makes, the reader takes back.
        watch::Event e = makeEvent(someTime(), "setting", "S", r.text);
        const std::optional<watch::Event> back = parseEventLine(formatEventLine(e));
        ASSERT_TRUE(back) << r.json;
        if (r.json.find("\xef\xbf\xbd") == std::string::npos) {
            EXPECT_EQ(back->unit, r.text);
        }
    }
}

TEST(EventJson, RoundTripsEveryField) {
    watch::Event e = makeEvent(someTime(), "summary", "", "");
    e.texts = {{"from", "window"}, {"setting", "source.left"}, {"value", "SDI #1"}};
    e.numbers = {{"peak.left", -12.25},
                 {"peak.right", 1e-7},
                 {"big", 1.5e300},
                 {"neg", -0.1},
                 {"nan", std::numeric_limits<double>::quiet_NaN()}};
    const std::optional<watch::Event> back = parseEventLine(formatEventLine(e));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->time, e.time);
    EXPECT_EQ(back->kind, e.kind);
    EXPECT_EQ(back->serial, "");
    EXPECT_EQ(back->unit, "");
    EXPECT_EQ(back->texts, e.texts);
    ASSERT_EQ(back->numbers.size(), e.numbers.size());
    for (std::size_t i = 0; i + 1 < e.numbers.size(); ++i) {
        EXPECT_EQ(back->numbers[i], e.numbers[i]);
    }
    EXPECT_EQ(back->numbers.back().first, "nan");
    EXPECT_TRUE(std::isnan(back->numbers.back().second));
}

TEST(EventJson, LeavesOutFieldsNamedLikeTheFixedOnes) {
    watch::Event e = makeEvent(someTime(), "over");
    e.texts = {{"kind", "fake"}, {"channel", "left"}};
    e.numbers = {{"time", 1}};
    const std::optional<watch::Event> back = parseEventLine(formatEventLine(e));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, "over");
    EXPECT_EQ(back->texts, (std::vector<std::pair<std::string, std::string>>{{"channel", "left"}}));
    EXPECT_TRUE(back->numbers.empty());
}

TEST(EventJson, KeepsALineWithinTheReadersLimit) {
    watch::Event e = makeEvent(someTime(), "setting");
    e.texts = {{"a", std::string(40000, 'x')}, {"b", std::string(40000, 'y')}, {"c", "z"}};
    const std::string line = formatEventLine(e);
    EXPECT_LE(line.size() + 1, kMaxLineBytes);
    const std::optional<watch::Event> back = parseEventLine(line);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->text("a").size(), 40000u);
    EXPECT_EQ(back->text("b"), "");
    EXPECT_EQ(back->text("c"), "z");
}

TEST(EventJson, ReadsWhatOtherWritersMayWrite) {
    const std::optional<watch::Event> e =
        parseEventLine(" { \"kind\" : \"over\" , \"time\":\"2026-12-11T03:12:45Z\", "
                       "\"x\":\"\\u00e9\\ud83c\\udf9a\\/\","
                       "\"n\":-1.5E+2 } ");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->time, someTime() - 120ms);
    EXPECT_EQ(e->serial, "");
    EXPECT_EQ(e->text("x"), "\xc3\xa9\xf0\x9f\x8e\x9a/");
    EXPECT_EQ(e->numbers, (std::vector<std::pair<std::string, double>>{{"n", -150}}));
}

TEST(EventJson, RefusesWhatIsNotACompleteLineOfTheLog) {
    const std::string good = "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":1}";
    ASSERT_TRUE(parseEventLine(good));
    const std::string rows[] = {
        "",
        "{",
        good.substr(0, good.size() / 2),
        good.substr(0, good.size() - 1),
        good + "x",
        good + "}",
        good + "\r",
        "[" + good + "]",
        "{}",
        "{\"kind\":\"over\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"\"}",
        "{\"time\":\"2026-12-11T03:12:45.120\",\"kind\":\"over\"}",
        "{\"time\":\"2026-02-30T03:12:45.120Z\",\"kind\":\"over\"}",
        "{\"time\":\"2026-12-11T24:12:45.120Z\",\"kind\":\"over\"}",
        "{\"time\":\"9999-12-11T03:12:45.120Z\",\"kind\":\"over\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":"
        "\"o\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"kind\":\"over\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":1}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"unit\":null}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":{}}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":[1]}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":true}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":01}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":1.}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":-}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":1e}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":1e999}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":NaN}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\":nul}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"n\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"ov\ner\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"ov\\xer\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"\\ud800\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"\\udc00\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"\\ud800\\u0041\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"\\u12\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"bad \xff\"}",
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\\",
        std::string("{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"o\0\"}", 48),
        std::string(10, '\0'),
    };
    for (const std::string& line : rows) {
        EXPECT_FALSE(parseEventLine(line)) << line;
    }
    // Too long, though whole.
    const std::string longLine =
        "{\"time\":\"2026-12-11T03:12:45.120Z\",\"kind\":\"over\",\"x\":\"" +
        std::string(kMaxLineBytes, 'x') + "\"}";
    EXPECT_FALSE(parseEventLine(longLine));
}

} // namespace
} // namespace qx::eventlog::test
