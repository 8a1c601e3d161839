// SPDX-License-Identifier: GPL-3.0-or-later
// Update runs started from the window against the virtual unit: progress, the end messages, the
// window staying alive and locked during the run, and failed blocks.
#include "Fixtures.h"

#include "update/UpdatePackage.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

namespace qx::test {
namespace {

TEST_F(WindowTest, RunShowsProgressThenTheUnitsVerdictAndCloses) {
    std::vector<int> values;
    QObject::connect(tfu->pb, &QProgressBar::valueChanged, [&](int v) { values.push_back(v); });
    selectPackage(packages.package(kModelName, pattern(1000), pattern(100)));

    EXPECT_EQ(values, (std::vector<int>{47, 91, 100, 0}));
    // The run's end is the unit's verdict, and only that.
    ASSERT_EQ(dialogs.texts(), QStringList{QStringLiteral("Обновление завершено успешно!")});
    EXPECT_TRUE(link.updateFinished);
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_FALSE(link.transferRunning) << "device changes are no longer held back";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tfu->isVisible(); }, 2000));
    EXPECT_FALSE(tfu->select->isEnabled()) << "set again by the scan after closing";
    EXPECT_FALSE(tfu->def->isEnabled());
    EXPECT_TRUE(tfu->cancel->isEnabled());
    EXPECT_EQ(sent(cmd::kErase), 2u);
    EXPECT_EQ(sent(cmd::kWriteFlash), 2u);
    EXPECT_EQ(sent(cmd::kWriteEeprom), 1u);
    EXPECT_EQ(sent(cmd::kFinish), 1u);
}

TEST_F(WindowTest, DemoPackageEndsUpInTheUnitByteForByte) {
    const PackageReadResult demo =
        readUpdatePackageFile(QX_DEMO_PACKAGE, tfu->deviceName().toStdString());
    ASSERT_EQ(demo.verdict, PackageVerdict::Accepted) << demo.message;
    selectPackage(QStringLiteral(QX_DEMO_PACKAGE));

    const Bytes flash = unit.flash();
    const Bytes eeprom = unit.eeprom();
    const Bytes& f = demo.package.flash;
    const Bytes& e = demo.package.eeprom;
    EXPECT_TRUE(std::equal(f.begin(), f.end(), flash.begin()));
    EXPECT_TRUE(std::equal(e.begin(), e.end(), eeprom.begin()));
    const std::size_t eepromEnd = (e.size() + 511) / 512 * 512;
    EXPECT_TRUE(std::all_of(eeprom.begin() + static_cast<long>(e.size()),
                            eeprom.begin() + static_cast<long>(eepromEnd),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("Обновление завершено успешно!")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tfu->isVisible(); }, 2000));
}

TEST_F(WindowTest, EmptyImagesSendOnlyTheFinish) {
    selectPackage(packages.package(kModelName, {}, {}));
    settleLink();
    EXPECT_EQ(blocksSent(), 0u);
    EXPECT_EQ(sent(cmd::kFinish), 1u);
    // The virtual unit refuses an update that wrote nothing.
    EXPECT_EQ(dialogs.texts(),
              QStringList{QStringLiteral("Ошибка в процессе обновления!\r\nПовторите попытку")});
}

// After the finish request the window waits for the unit's verdict: sending every block is not
// an update that took. Without a verdict (answers lost or garbled) it says so and stays open.
struct EndCase {
    const char* name;
    unit::Faults faults;
    const char* text;
    bool closes;
};

void PrintTo(const EndCase& c, std::ostream* os) {
    *os << c.name;
}

class RunEnd : public WindowTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(RunEnd, SaysWhatTheUnitConfirmed) {
    const EndCase& c = GetParam();
    tfu->setVerdictWait(std::chrono::milliseconds(300));
    const QString path = packages.package(kModelName, pattern(700), pattern(10));
    unit.setFaults(c.faults);
    selectPackage(path);
    ASSERT_EQ(dialogs.texts(), QStringList{QString::fromUtf8(c.text)});
    EXPECT_EQ(sent(cmd::kFinish), 1u);
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_FALSE(link.transferRunning);
    if (c.closes) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !tfu->isVisible(); }, 2000));
        return;
    }
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::Warning);
    EXPECT_FALSE(link.updateFinished);
    QTest::qWait(300);
    EXPECT_TRUE(tfu->isVisible());
    EXPECT_TRUE(tfu->select->isEnabled()) << "another try is one click away";
    EXPECT_TRUE(tfu->cancel->isEnabled());
}

unit::Faults garbled() {
    unit::Faults f;
    f.corruptCrc = true;
    return f;
}

unit::Faults slowAnswers() {
    unit::Faults f;
    f.delay = std::chrono::milliseconds(150);
    return f;
}

unit::Faults mute() {
    unit::Faults f;
    f.silent = true;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, RunEnd,
    ::testing::Values(
        EndCase{"Confirmed", {}, "Обновление завершено успешно!", true},
        EndCase{"ConfirmedLate", slowAnswers(), "Обновление завершено успешно!", true},
        EndCase{"AnswersFailTheirChecksum", garbled(),
                "Every block was sent, but the unit did not confirm the update. Check the unit "
                "and run the update again.",
                false},
        EndCase{"NoAnswer", mute(),
                "Every block was sent, but the unit did not confirm the update. Check the unit "
                "and run the update again.",
                false}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailedBlockCase {
    const char* name;
    std::size_t flash, eeprom;
    bool unitGone; // the link says no unit is open; otherwise the unit refuses every report
    const char* text;
};

void PrintTo(const FailedBlockCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedBlock : public WindowTest, public ::testing::WithParamInterface<FailedBlockCase> {};

TEST_P(FailedBlock, ShowsItsMessageAndReturnsToIdle) {
    const FailedBlockCase& c = GetParam();
    const QString path = packages.package(kModelName, pattern(c.flash), pattern(c.eeprom));
    if (c.unitGone) {
        link.connected = false;
    } else {
        unit::Faults f;
        f.refuseWrites = true;
        unit.setFaults(f);
    }
    selectPackage(path);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QString::fromLatin1(c.text));
    EXPECT_EQ(dialogs.messages[0].caption, QStringLiteral("Update firmware"));
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::Error);
    EXPECT_TRUE(tfu->isVisible());
    EXPECT_TRUE(tfu->select->isEnabled());
    EXPECT_TRUE(tfu->def->isEnabled());
    EXPECT_TRUE(tfu->cancel->isEnabled());
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_FALSE(link.updateFinished);
    settleLink();
    EXPECT_EQ(sent(cmd::kFinish), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FailedBlock,
    ::testing::Values(FailedBlockCase{"FlashRefused", 700, 10, false, "Update failed. Try again.."},
                      FailedBlockCase{"EepromRefused", 0, 10, false, "Update failed. Try again."},
                      FailedBlockCase{"NoUnitOpen", 700, 10, true, "Update failed. Try again.."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, WindowStaysAliveButLockedDuringTheRunAndUnplugFailsIt) {
    tfu->tmrb->start(1); // skip the two-second wait for the first tick
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent(cmd::kKeepAlive) >= 1; }, 2000));
    // 96 flash blocks, each followed by its 20 ms pause: long enough to act during the run.
    dialogs.files.push_back(packages.package(kModelName, pattern(48 * 1024), {}));
    tfu->select->click();
    ASSERT_TRUE(tfu->transferring());
    EXPECT_TRUE(link.transferRunning) << "device changes wait for the transfer";
    ASSERT_TRUE(QTest::qWaitFor([&] { return tfu->pb->value() >= 3; }, 5000))
        << "progress reaches the bar while the run goes on";
    const unsigned keepAlivesAtStart = sent(cmd::kKeepAlive);
    // A keep-alive posted now could take the place of a block in the mailbox.
    int ticks = 0;
    QObject::connect(tfu->tmrb, &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 2000));
    EXPECT_EQ(sent(cmd::kKeepAlive), keepAlivesAtStart) << "no keep-alive during the transfer";

    EXPECT_FALSE(tfu->cancel->isEnabled());
    EXPECT_FALSE(tfu->select->isEnabled());
    EXPECT_FALSE(tfu->def->isEnabled());
    EXPECT_FALSE(tfu->close());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(tfu.get(), &escape);
    tfu->reject();
    EXPECT_TRUE(tfu->isVisible());
    tfu->setUpdateButtonsEnabled(true); // a device scan during the run
    EXPECT_FALSE(tfu->select->isEnabled());
    EXPECT_TRUE(tfu->grab().size().isValid()) << "the window paints during the run";

    port->setPlugged(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->busy(); }, 5000));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("Update failed. Try again.."));
    EXPECT_GT(tfu->pb->value(), 0);
    EXPECT_LT(tfu->pb->value(), 100);
    EXPECT_TRUE(tfu->select->isEnabled());
    EXPECT_TRUE(tfu->cancel->isEnabled());
    EXPECT_TRUE(tfu->isVisible());
    EXPECT_LT(sent(cmd::kWriteFlash), 96u);
    EXPECT_FALSE(link.transferRunning);
}

} // namespace
} // namespace qx::test
