// SPDX-License-Identifier: GPL-3.0-or-later
// Settings kept across a firmware update: the unit's settings remembered in normal mode, an
// update whose EEPROM image resets them, and the main window's offer to put them back, which
// counts as done only once the unit's answers carry them.
#include "ScriptedDialogs.h"
#include "link/LinkWorker.h"
#include "panel/SettingsRestore.h"
#include "panel/umain.h"
#include "state/SettingsMemory.h"
#include "state/UpdateJournal.h"
#include "tools/mkorbu/PackageWriter.h"
#include "unit/UnitPort.h"
#include "update/RecoveryOffer.h"
#include "update/UpdateLog.h"
#include "update/UpdatePackage.h"
#include "update/uu.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace qx {
namespace {

const QString kSerial = QStringLiteral("QX7700000042");

struct RestoreCase {
    const char* name;
    QMessageBox::StandardButton answer;
    bool unitDeaf; // the unit takes nothing after the question
    bool restored;
    const char* says; // the last message; empty when none follows the question
};

void PrintTo(const RestoreCase& c, std::ostream* os) {
    *os << c.name;
}

class RestoreFixture : public ::testing::Test {
protected:
    QTemporaryDir dir;
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};
    test::ScriptedDialogs dialogs;
    Tfu tfu{link, dialogs};
    Receiver receiver{link, &tfu};
    Tfmain w{link, tfu, dialogs};
    state::UpdateJournal journal{dir.filePath(QStringLiteral("journal")).toStdString()};
    state::SettingsMemory memory{dir.filePath(QStringLiteral("settings")).toStdString()};
    SettingsRestore restore{link,    memory, &journal,
                            dialogs, &w,     [this] { return tfu.deviceSerial().toStdString(); }};
    std::unique_ptr<Tthr> worker; // stopped before the windows go

    void SetUp() override {
        restore.setConfirmWait(std::chrono::milliseconds(600));
        QObject::connect(&w, &Tfmain::answerShown, &restore, [this] { restore.answerStored(); });
        tfu.setStateStore(&journal, &memory);
        tfu.setVerdictWait(std::chrono::seconds(2));
        port.setInputHandler(
            [this](const THIDreport& r, uint8_t n) { receiver.onInputReport(r, n); });
        ASSERT_EQ(port.scanForDevices(), 1);
        ASSERT_TRUE(port.openDevice(0));
        worker = std::make_unique<Tthr>(link, port, [this] { w.requestRefresh(); });
        connectAs(false);
        w.show();
    }
    void TearDown() override {
        worker.reset();
        port.setInputHandler({});
    }
    // What the device connection does when it finds the unit in either mode.
    void connectAs(bool boot) {
        unit.restart(boot);
        link.connected = true;
        link.bootMode = boot;
        if (boot) {
            link.abandonSettingsWrite();
        }
        tfu.setDeviceFields(QString::fromStdString(unit.product()), kSerial, QStringLiteral("1.2"));
        tfu.setUpdateButtonsEnabled(boot);
        w.Cont(!boot);
    }
    QString package() {
        PackageContents contents{"QX-77ZT ", "2.1", std::vector<uint8_t>(700, 0x5A),
                                 std::vector<uint8_t>(64, 0x11)};
        const PackageWriteResult r = writePackage(contents);
        EXPECT_TRUE(r.ok) << r.error;
        const QString path = dir.filePath(QStringLiteral("fw.orbu"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(r.bytes.data()), static_cast<qint64>(r.bytes.size()));
        return path;
    }
    int questions() const {
        int n = 0;
        for (const auto& m : dialogs.shown) {
            n += m.buttons.testFlag(QMessageBox::Yes) ? 1 : 0;
        }
        return n;
    }
};

class SettingsRoundTrip : public RestoreFixture,
                          public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(SettingsRoundTrip, UpdateThatResetsTheSettingsOffersThemBack) {
    const RestoreCase& c = GetParam();
    DeviceSettings mine = factoryDefaults();
    mine.preset = 2;
    mine.gainLeft = -12;
    mine.muteOn = 1;
    mine.source[4] = 16;
    unit.setSettings(mine);
    ASSERT_TRUE(QTest::qWaitFor([&] { return memory.find(kSerial.toStdString()) == mine; }))
        << "what the unit confirms in normal mode is remembered";

    connectAs(true);
    tfu.show();
    dialogs.nextOpenName = package();
    tfu.select->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu.busy(); }, 10000));
    ASSERT_EQ(dialogs.shown.back().text, QStringLiteral("Обновление завершено успешно!"));
    ASSERT_EQ(unit.settings(), factoryDefaults()) << "the EEPROM image reset them";
    const auto entry = journal.latestFor(kSerial.toStdString());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->state, state::UpdateState::Completed);
    EXPECT_EQ(entry->snapshot, mine);
    tfu.hide();

    dialogs.answers = {c.answer};
    std::size_t afterQuestion = 0;
    dialogs.onShown = [&](const test::ScriptedDialogs::Shown& m) {
        if (m.buttons.testFlag(QMessageBox::Yes)) {
            afterQuestion = dialogs.shown.size();
            if (c.unitDeaf) {
                unit::Faults f;
                f.refuseWrites = true;
                unit.setFaults(f);
            }
        }
    };
    connectAs(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return questions() == 1; }));
    if (c.says[0] != '\0') {
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialogs.shown.size() > afterQuestion; }, 3000));
        EXPECT_EQ(dialogs.shown.back().text, QString::fromLatin1(c.says));
    }
    QTest::qWait(300);
    EXPECT_EQ(unit.settings() == mine, c.restored);
    EXPECT_EQ(questions(), 1) << "asked once";
    EXPECT_TRUE(journal.latestFor(kSerial.toStdString())->settingsSettled);
    if (c.restored) {
        EXPECT_EQ(w.but2->colorStyle(), lcsGreen) << "the window shows them too";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SettingsRoundTrip,
    ::testing::Values(
        RestoreCase{"Restored", QMessageBox::Yes, false, true,
                    "The unit has its settings from before the update again."},
        RestoreCase{"Declined", QMessageBox::No, false, false, ""},
        RestoreCase{"UnitNeverShowsThem", QMessageBox::Yes, true, false,
                    "The settings from before the update were sent, but the unit's answers do "
                    "not show them: they are not restored."}),
    [](const auto& info) { return std::string(info.param.name); });

// An update cut off half-way, the unit back in normal mode with its settings already reset
// (and remembered so), then the recovery run from the update window's offer: the settings from
// before the cut-off update are offered back, as after any update that reset them.
TEST_F(RestoreFixture, RecoveryAfterACutOffUpdateOffersTheSettingsBack) {
    DeviceSettings mine = factoryDefaults();
    mine.preset = 1;
    mine.gainRight = -20;
    mine.dimMode = 2;
    unit.setSettings(mine);
    ASSERT_TRUE(QTest::qWaitFor([&] { return memory.find(kSerial.toStdString()) == mine; }));

    // The run the program was killed in: journalled with its snapshot, never ended.
    const QString path = package();
    const PackageFileRead file = readPackageFileBytes(path.toStdString());
    ASSERT_TRUE(file.ok);
    const PackageReadResult read = readUpdatePackage(file.bytes, "QX-77ZT (boot)");
    ASSERT_EQ(read.verdict, PackageVerdict::Accepted);
    {
        UpdateLog cut(&journal, &memory);
        ASSERT_EQ(cut.begin({kSerial.toStdString(), "QX-77ZT (boot)", "1.2"}, path.toStdString(),
                            file.bytes, read.package),
                  "");
        cut.blockDone();
    }
    ASSERT_EQ(journal.latestFor(kSerial.toStdString())->state, state::UpdateState::Running);

    // Back in normal mode with the factory's settings, which are remembered as the unit's.
    unit.setSettings(factoryDefaults());
    connectAs(false);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return memory.find(kSerial.toStdString()) == factoryDefaults(); }));

    connectAs(true);
    tfu.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tfu.offer->isVisible(); }));
    tfu.offer->run->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu.busy(); }, 10000));
    ASSERT_EQ(dialogs.shown.back().text, QStringLiteral("Обновление завершено успешно!"));
    const auto entry = journal.latestFor(kSerial.toStdString());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->state, state::UpdateState::Completed);
    EXPECT_EQ(entry->snapshot, mine) << "the recovery keeps the cut-off run's snapshot";
    tfu.hide();

    dialogs.answers = {QMessageBox::Yes};
    connectAs(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return questions() == 1; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return unit.settings() == mine; }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return dialogs.shown.back().text ==
               QStringLiteral("The unit has its settings from before the update again.");
    }));
}

} // namespace
} // namespace qx
