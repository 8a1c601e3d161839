// SPDX-License-Identifier: GPL-3.0-or-later
// The alarm config file: the example an operator starts from, every refusal naming its line,
// and the dialog's writes reading back the same.
#include "watch/AlarmConfig.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <string>

namespace qx::watch {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kExample = R"(# comments start with '#'; blank lines are ignored
[alarms]                 # every unit
silence = on             # on | off
silence.level = -50      # dB as the meters read (-52 .. 8)
silence.channels = both  # both | either
silence.after = 10s
silence.clear = 2s
over = on
over.after = 0s
lost = on
lost.after = 5s
boot-loader = on
boot-loader.after = 30s
[unit QX7700000042]      # overrides for one unit, by serial or label
silence.level = -45

[unit "Studio #1"]
lost = off
[actions]
notify = on
command = /usr/local/bin/page-engineer --loud   # split into words, quotes group; no shell
command.limit = 10s
[log]
max-days = 366
max-size = 512M
)";

TEST(AlarmConfig, TheExampleReadsAsItSays) {
    const ConfigParse p = parseAlarmConfig(kExample);
    ASSERT_TRUE(p.settings) << p.error;
    const AlarmSettings& s = *p.settings;
    for (const AlarmKind kind : kAllAlarms) {
        EXPECT_TRUE(s.rules[kind].on) << alarmWord(kind);
    }
    EXPECT_EQ(s.rules[AlarmKind::Silence].after, 10s);
    EXPECT_EQ(s.rules[AlarmKind::Silence].clear, 2s);
    EXPECT_EQ(s.rules[AlarmKind::BootLoader].after, 30s);
    EXPECT_EQ(s.rules.silenceLevelDb, -50);
    EXPECT_EQ(s.actions.command,
              (std::vector<std::string>{"/usr/local/bin/page-engineer", "--loud"}));
    EXPECT_EQ(s.actions.commandLimit, 10s);
    EXPECT_EQ(s.log.maxBytes, 512ULL << 20);
    ASSERT_EQ(s.overrides.size(), 2U);
    EXPECT_EQ(s.overrides[1].unit, "Studio #1");

    // Overrides: by serial, then by label; what they do not give follows the common rules.
    const AlarmRules bySerial = s.rulesFor("QX7700000042", "");
    EXPECT_EQ(bySerial.silenceLevelDb, -45);
    EXPECT_TRUE(bySerial[AlarmKind::Lost].on);
    EXPECT_EQ(bySerial[AlarmKind::Silence].after, 10s);
    const AlarmRules byLabel = s.rulesFor("QX7700000099", "Studio #1");
    EXPECT_FALSE(byLabel[AlarmKind::Lost].on);
    EXPECT_EQ(byLabel.silenceLevelDb, -50);
    EXPECT_EQ(s.rulesFor("QX7700000099", "Other"), s.rules);
}

TEST(AlarmConfig, AnEmptyFileIsTheDefaults) {
    const ConfigParse p = parseAlarmConfig("");
    ASSERT_TRUE(p.settings);
    EXPECT_EQ(*p.settings, AlarmSettings{});
    for (const AlarmKind kind : kAllAlarms) {
        EXPECT_FALSE(p.settings->rules[kind].on);
    }
    EXPECT_TRUE(p.settings->actions.notify);
    EXPECT_TRUE(p.settings->actions.command.empty());
    EXPECT_EQ(p.settings->log.maxDays, 366);
    EXPECT_EQ(p.settings->log.maxBytes, 512ULL * 1024 * 1024);
}

TEST(AlarmConfig, BadLinesAreRefusedWithTheirLineNamed) {
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"[alarms]\nsilence.level = -45\nsilence.level = -53\n",
         "alarms.conf:3: silence.level must be a number of dB from -52 to 8"},
        {"[alarms]\nsilence.level = loud\n",
         "alarms.conf:2: silence.level must be a number of dB from -52 to 8"},
        {"[alarms]\nsilence.level = nan\n",
         "alarms.conf:2: silence.level must be a number of dB from -52 to 8"},
        {"[alarms]\nsilence.level = 9\n",
         "alarms.conf:2: silence.level must be a number of dB from -52 to 8"},
        {"[alarms]\nsilence = yes\n", "alarms.conf:2: silence must be on or off"},
        {"[alarms]\nsilence.channels = left\n",
         "alarms.conf:2: silence.channels must be both or either"},
        {"[alarms]\n\n\nover.after = 10\n",
         "alarms.conf:4: over.after must be a time such as 500ms, 10s, 2m or 1h, at most 24h"},
        {"[alarms]\nlost.clear = 25h\n",
         "alarms.conf:2: lost.clear must be a time such as 500ms, 10s, 2m or 1h, at most 24h"},
        {"[alarms]\nlost.clear = -1s\n",
         "alarms.conf:2: lost.clear must be a time such as 500ms, 10s, 2m or 1h, at most 24h"},
        {"[alarms]\nover.level = -3\n", "alarms.conf:2: unknown key 'over.level' in [alarms]"},
        {"[alarms]\nsilence.loudness = -3\n",
         "alarms.conf:2: unknown key 'silence.loudness' in [alarms]"},
        {"silence = on\n", "alarms.conf:1: 'silence' comes before any section such as [alarms]"},
        {"[alarm]\n", "alarms.conf:1: unknown section [alarm]; the sections are [alarms], [unit "
                      "SERIAL-OR-LABEL], [actions] and [log]"},
        {"[alarms\n", "alarms.conf:1: a section line must end with ']'"},
        {"[unit]\n", "alarms.conf:1: [unit] needs the unit's serial number or label"},
        {"[unit \"\"]\n", "alarms.conf:1: [unit] needs the unit's serial number or label"},
        {"[alarms]\nsilence on\n", "alarms.conf:2: expected 'key = value'"},
        {"[actions]\ncommand = \"/bin/page --to 'x\n",
         "alarms.conf:2: command has a quote that is not closed"},
        {"[actions]\ncommand = \"\" -x\n",
         "alarms.conf:2: command must start with the program to run"},
        {"[actions]\ncommand.limit = 0s\n",
         "alarms.conf:2: command.limit must be a time from 100ms to 1h"},
        {"[actions]\ncommand.limit = 2h\n",
         "alarms.conf:2: command.limit must be a time from 100ms to 1h"},
        {"[actions]\nnotify = 1\n", "alarms.conf:2: notify must be on or off"},
        {"[actions]\nsilence = on\n", "alarms.conf:2: unknown key 'silence' in [actions]"},
        {"[log]\nmax-days = 0\n",
         "alarms.conf:2: max-days must be a whole number of days from 1 to 36500"},
        {"[log]\nmax-size = 512X\n",
         "alarms.conf:2: max-size must be a size from 1M to 1024G such as 512M (K, M, G)"},
        {"[log]\nmax-size = 99999999999999999G\n",
         "alarms.conf:2: max-size must be a size from 1M to 1024G such as 512M (K, M, G)"},
        {"[log]\nmax-size = 512K\n",
         "alarms.conf:2: max-size must be a size from 1M to 1024G such as 512M (K, M, G)"},
        {"[alarms]\r\nsilence = on\x01\r\n", "alarms.conf:2: the line holds a control character"},
        {"[alarms]\n" + std::string(17000, ' ') + "\n",
         "alarms.conf:2: the line is longer than 16384 bytes"},
        {"[unit " + std::string(257, 'x') + "]\n",
         "alarms.conf:1: the unit's name is longer than 256 bytes"},
        {"[actions]\ncommand = /bin/x " + std::string(4091, 'x') + "\n",
         "alarms.conf:2: command is longer than 4096 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ConfigParse p = parseAlarmConfig(c.text);
        EXPECT_FALSE(p.settings);
        EXPECT_EQ(p.error, c.error);
    }
    // The name of the file read is the one named.
    EXPECT_EQ(parseAlarmConfig("[x]\n", "my.conf").error.substr(0, 10), "my.conf:1:");
}

TEST(AlarmConfig, ValuesInEveryFormTheyMayTake) {
    const struct {
        std::string_view text;
        std::optional<Millis> duration;
    } durations[] = {{"500ms", 500ms}, {"10s", 10s}, {"2m", 2min},       {"1h", 1h},
                     {"0", 0ms},       {"0s", 0ms},  {"24h", 24h},       {"1.5s", {}},
                     {"10", {}},       {"s", {}},    {"10 s", {}},       {"1441m", {}},
                     {"", {}},         {"1d", {}},   {"9999999999h", {}}};
    for (const auto& d : durations) {
        EXPECT_EQ(parseDuration(d.text), d.duration) << d.text;
        if (d.duration) {
            EXPECT_EQ(parseDuration(durationText(*d.duration)), d.duration);
        }
    }
    const struct {
        std::string_view text;
        std::optional<double> db;
    } levels[] = {{"-50", -50},    {"-52", -52}, {"8", 8},      {"+3", 3},    {"-49.5", -49.5},
                  {"-50 dB", -50}, {"-0", 0},    {"-52.1", {}}, {"8.01", {}}, {"1e1", {}},
                  {"inf", {}},     {"", {}},     {"--5", {}}};
    for (const auto& l : levels) {
        EXPECT_EQ(parseLevel(l.text), l.db) << l.text;
    }
    EXPECT_EQ(parseSize("512M"), 512ULL << 20);
    EXPECT_EQ(parseSize("3g"), 3ULL << 30);
    EXPECT_EQ(parseSize("1000"), 1000U);
    EXPECT_EQ(sizeText(512ULL << 20), "512M");
    EXPECT_EQ(sizeText((1ULL << 20) + 1), std::to_string((1ULL << 20) + 1));
}

TEST(AlarmConfig, CommandWordsAreSplitWithoutAShell) {
    const struct {
        std::string_view text;
        std::vector<std::string> words;
    } cases[] = {
        {"/bin/page --loud", {"/bin/page", "--loud"}},
        {"  /bin/page\t\"two words\"  'single # \"quoted\"' ",
         {"/bin/page", "two words", "single # \"quoted\""}},
        {R"(a "b\"c\\d" e\f)", {"a", "b\"c\\d", "e\\f"}},
        {R"(a "" b)", {"a", "", "b"}},
        {"$(rm -rf ~) ; `x` | y", {"$(rm", "-rf", "~)", ";", "`x`", "|", "y"}},
        {"pre\"mid dle\"post", {"premid dlepost"}},
    };
    for (const auto& c : cases) {
        const auto words = splitWords(c.text);
        ASSERT_TRUE(words) << c.text;
        EXPECT_EQ(*words, c.words) << c.text;
        EXPECT_EQ(splitWords(joinWords(*words)), c.words) << joinWords(*words);
    }
    EXPECT_FALSE(splitWords("a \"b"));
    EXPECT_FALSE(splitWords("a 'b"));
}

TEST(AlarmConfig, WhatIsWrittenReadsBackTheSame) {
    AlarmSettings s;
    s.rules[AlarmKind::Silence] = {true, 1500ms, 3s};
    s.rules[AlarmKind::Over] = {true, 0ms, 0ms};
    s.rules[AlarmKind::Lost] = {false, 2min, 1h};
    s.rules[AlarmKind::BootLoader] = {true, 45s, 250ms};
    s.rules.silenceLevelDb = -47.25;
    s.rules.silenceChannels = SilenceChannels::Either;
    UnitOverride byLabel;
    byLabel.unit = " Studio \"A\" #2 ] ";
    byLabel.rule[indexOf(AlarmKind::Lost)].on = true;
    byLabel.rule[indexOf(AlarmKind::Silence)].clear = 7s;
    byLabel.silenceLevelDb = 8;
    UnitOverride bySerial;
    bySerial.unit = "QX7700000042";
    bySerial.silenceChannels = SilenceChannels::Both;
    UnitOverride empty;
    empty.unit = "Spare unit";
    s.overrides = {byLabel, bySerial, empty};
    s.actions.notify = false;
    s.actions.command = {"/opt/page me", "--unit", "#1", "'q'", "a\\b\"c", ""};
    s.actions.commandLimit = 90s;
    s.log.maxDays = 30;
    s.log.maxBytes = 3ULL << 30;

    const std::string text = formatAlarmConfig(s);
    const ConfigParse p = parseAlarmConfig(text);
    ASSERT_TRUE(p.settings) << p.error << "\n" << text;
    EXPECT_EQ(*p.settings, s) << text;
    // And the defaults too.
    EXPECT_EQ(parseAlarmConfig(formatAlarmConfig(AlarmSettings{})).settings, AlarmSettings{});
}

TEST(AlarmConfig, TheFileIsFoundReadAndReplaced) {
    EXPECT_EQ(alarmConfigPath("/x/config", "/home/me"), "/x/config/qx77zt/alarms.conf");
    EXPECT_EQ(alarmConfigPath("relative", "/home/me", "qx77zt-demo"),
              "/home/me/.config/qx77zt-demo/alarms.conf");
    EXPECT_EQ(alarmConfigPath(nullptr, nullptr), "");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path path =
        std::filesystem::path(dir.path().toStdString()) / "qx77zt" / "alarms.conf";
    ConfigLoad missing = loadAlarmConfig(path);
    EXPECT_EQ(missing.status, ConfigLoad::Status::Missing);
    EXPECT_EQ(missing.settings, AlarmSettings{});

    AlarmSettings s;
    s.rules[AlarmKind::Lost].on = true;
    ASSERT_EQ(saveAlarmConfig(path, s), "");
    ConfigLoad loaded = loadAlarmConfig(path);
    EXPECT_EQ(loaded.status, ConfigLoad::Status::Loaded);
    EXPECT_EQ(loaded.settings, s);

    std::ofstream(path) << "[alarms]\nlost = maybe\n";
    ConfigLoad refused = loadAlarmConfig(path);
    EXPECT_EQ(refused.status, ConfigLoad::Status::Refused);
    EXPECT_EQ(refused.error, "alarms.conf:2: lost must be on or off");

    // A link to the operator's own copy is followed.
    const auto real = path.parent_path() / "real.conf";
    std::ofstream(real) << "[alarms]\nover = on\n";
    std::filesystem::remove(path);
    std::filesystem::create_symlink(real, path);
    loaded = loadAlarmConfig(path);
    ASSERT_EQ(loaded.status, ConfigLoad::Status::Loaded) << loaded.error;
    EXPECT_TRUE(loaded.settings.rules[AlarmKind::Over].on);
}

} // namespace
} // namespace qx::watch
