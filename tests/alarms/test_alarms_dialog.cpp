// SPDX-License-Identifier: GPL-3.0-or-later
// "Alarms…": shows what alarms.conf holds, writes what the operator set so that the file reads
// back the same, keeps the units' own settings, and refuses what is not a value, writing
// nothing.
#include "watch/AlarmConfig.h"
#include "watch/AlarmsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qx::watch {
namespace {

using namespace std::chrono_literals;

struct DialogTest : ::testing::Test {
    QTemporaryDir dir;
    std::filesystem::path path() const {
        return std::filesystem::path(dir.path().toStdString()) / "qx77zt" / "alarms.conf";
    }
    std::string file() const {
        std::ifstream in(path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    AlarmsDialog::AlarmRow& row(AlarmsDialog& d, AlarmKind kind) { return d.rows[indexOf(kind)]; }
};

TEST_F(DialogTest, ShowsTheDefaultsAndWritesWhatIsSet) {
    AlarmsDialog d(path());
    for (const AlarmKind kind : kAllAlarms) {
        EXPECT_FALSE(row(d, kind).on->isChecked());
    }
    EXPECT_EQ(row(d, AlarmKind::Silence).after->text(), QStringLiteral("10s"));
    EXPECT_TRUE(d.notify->isChecked());
    EXPECT_EQ(d.commandLimit->text(), QStringLiteral("10s"));
    EXPECT_EQ(d.maxDays->value(), 366);
    EXPECT_EQ(d.maxSize->text(), QStringLiteral("512M"));
    EXPECT_TRUE(d.problem().isEmpty());

    row(d, AlarmKind::Silence).on->setChecked(true);
    row(d, AlarmKind::Silence).after->setText(QStringLiteral("15s"));
    row(d, AlarmKind::Lost).on->setChecked(true);
    row(d, AlarmKind::Lost).clear->setText(QStringLiteral("500ms"));
    d.silenceLevel->setValue(-45.5);
    d.silenceChannels->setCurrentIndex(1);
    d.notify->setChecked(false);
    d.command->setText(QStringLiteral("/usr/local/bin/page \"Studio A\" --loud"));
    d.commandLimit->setText(QStringLiteral("30s"));
    d.maxDays->setValue(30);
    d.maxSize->setText(QStringLiteral("2G"));
    QSignalSpy saved(&d, &AlarmsDialog::saved);
    d.accept();
    EXPECT_TRUE(d.problem().isEmpty()) << d.problem().toStdString();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    ASSERT_EQ(saved.count(), 1);

    const ConfigLoad load = loadAlarmConfig(path());
    ASSERT_EQ(load.status, ConfigLoad::Status::Loaded) << load.error;
    AlarmSettings expected;
    expected.rules[AlarmKind::Silence] = {true, 15s, 2s};
    expected.rules[AlarmKind::Lost] = {true, 5s, 500ms};
    expected.rules.silenceLevelDb = -45.5;
    expected.rules.silenceChannels = SilenceChannels::Either;
    expected.actions = {false, {"/usr/local/bin/page", "Studio A", "--loud"}, 30s};
    expected.log = {30, 2ULL << 30};
    EXPECT_EQ(load.settings, expected) << file();
    EXPECT_EQ(saved.at(0).at(0).value<AlarmSettings>(), expected);

    // Opened again, it shows what it wrote.
    AlarmsDialog again(path());
    EXPECT_TRUE(row(again, AlarmKind::Silence).on->isChecked());
    EXPECT_EQ(again.command->text(), QStringLiteral("/usr/local/bin/page \"Studio A\" --loud"));
    EXPECT_EQ(again.silenceLevel->value(), -45.5);
}

TEST_F(DialogTest, TheSettingsOfSingleUnitsAreEditedAsTheirSections) {
    std::filesystem::create_directories(path().parent_path());
    std::ofstream(path()) << "[alarms]\nover = on\n[unit Studio A]\nsilence.level = -30\n";
    AlarmsDialog d(path());
    EXPECT_TRUE(row(d, AlarmKind::Over).on->isChecked());
    EXPECT_EQ(d.units->toPlainText(), QStringLiteral("[unit Studio A]\nsilence.level = -30\n"));
    row(d, AlarmKind::Over).on->setChecked(false);
    d.units->setPlainText(d.units->toPlainText() +
                          QStringLiteral("\n[unit QX7700000042]   # the spare\nlost = off\n"));
    d.accept();
    EXPECT_TRUE(d.problem().isEmpty()) << d.problem().toStdString();
    const ConfigLoad load = loadAlarmConfig(path());
    ASSERT_EQ(load.status, ConfigLoad::Status::Loaded);
    EXPECT_FALSE(load.settings.rules[AlarmKind::Over].on);
    ASSERT_EQ(load.settings.overrides.size(), 2U);
    EXPECT_EQ(load.settings.overrides[0].unit, "Studio A");
    EXPECT_EQ(load.settings.overrides[0].silenceLevelDb, -30);
    EXPECT_EQ(load.settings.overrides[1].unit, "QX7700000042");
    EXPECT_EQ(load.settings.overrides[1].rule[indexOf(AlarmKind::Lost)].on, false);

    // What does not belong there is refused, the line named, and nothing written.
    const std::string before = file();
    const struct {
        QString text;
        QString problem;
    } cases[] = {
        {QStringLiteral("[unit Studio A]\nsilence.level = -70\n"),
         QStringLiteral("Settings of single units: units:2: silence.level must be a number of dB "
                        "from -52 to 8")},
        {QStringLiteral("silence = on\n"),
         QStringLiteral("Settings of single units: units:1: only [unit SERIAL-OR-LABEL] sections "
                        "and their settings belong here")},
        {QStringLiteral("[unit A]\nlost = on\n[actions]\nnotify = off\n"),
         QStringLiteral("Settings of single units: units:3: only [unit SERIAL-OR-LABEL] sections "
                        "and their settings belong here")},
    };
    for (const auto& c : cases) {
        AlarmsDialog bad(path());
        bad.units->setPlainText(c.text);
        bad.accept();
        EXPECT_EQ(bad.problem(), c.problem);
        EXPECT_EQ(file(), before);
    }
}

TEST_F(DialogTest, WhatIsNotAValueIsRefusedAndNothingIsWritten) {
    const struct {
        const char* field;
        QString value;
        QString problem;
    } cases[] = {
        {"silence.after", QStringLiteral("10"),
         QStringLiteral("Silence, raised after: \"10\" is not a time such as 500ms, 10s, 2m or "
                        "1h (at most 24h).")},
        {"lost.clear", QStringLiteral("2 days"),
         QStringLiteral("Unit lost, cleared after: \"2 days\" is not a time such as 500ms, 10s, "
                        "2m or 1h (at most 24h).")},
        {"command", QStringLiteral("/bin/page \"Studio A"),
         QStringLiteral("The command has a quote that is not closed.")},
        {"command", QStringLiteral("\"\" --loud"),
         QStringLiteral("The command must start with the program to run.")},
        {"command.limit", QStringLiteral("0s"),
         QStringLiteral("\"0s\" cannot be the command's time limit: it must be a time from 100ms "
                        "to 1h.")},
        {"max-size", QStringLiteral("5X"),
         QStringLiteral("\"5X\" cannot be the event log's size: it must be a size from 1M to "
                        "1024G such as 512M (K, M, G).")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        AlarmsDialog d(path());
        auto* edit = d.findChild<QLineEdit*>(QString::fromUtf8(c.field));
        ASSERT_NE(edit, nullptr);
        edit->setText(c.value);
        d.accept();
        EXPECT_EQ(d.problem(), c.problem);
        EXPECT_NE(d.result(), QDialog::Accepted);
        EXPECT_FALSE(std::filesystem::exists(path()));
    }
}

TEST_F(DialogTest, ARefusedFileIsSaidAtOnce) {
    std::filesystem::create_directories(path().parent_path());
    std::ofstream(path()) << "[alarms]\nsilence.level = -70\n";
    AlarmsDialog d(path());
    EXPECT_TRUE(d.problem().startsWith(
        QStringLiteral("alarms.conf:2: silence.level must be a number of dB from -52 to 8")))
        << d.problem().toStdString();
}

// Run by hand to look at the dialog: QX_SHOT=/tmp/alarms.png xvfb-run <binary>
// --gtest_also_run_disabled_tests --gtest_filter='*Picture*'
TEST_F(DialogTest, DISABLED_Picture) {
    std::filesystem::create_directories(path().parent_path());
    std::ofstream(path()) << "[alarms]\nsilence = on\nlost = on\n[unit QX7700000042]\nlost = off\n"
                             "[actions]\ncommand = /usr/local/bin/page-engineer --loud\n";
    AlarmsDialog d(path());
    row(d, AlarmKind::Over).after->setText(QStringLiteral("soon"));
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.accept();
    QTest::qWait(200);
    const char* shot = std::getenv("QX_SHOT");
    ASSERT_TRUE(d.grab().toImage().save(QString::fromUtf8(shot ? shot : "/tmp/alarms.png")));
}

} // namespace
} // namespace qx::watch
