// SPDX-License-Identifier: GPL-3.0-or-later
// The update window and the journal: each transfer recorded with its outcome, the offer to run an
// unfinished update again (only on the operator's click, only with the very same package), a
// journal that cannot be written, and the list of the last updates.
#include "Fixtures.h"

#include "state/SettingsMemory.h"
#include "state/UpdateJournal.h"
#include "update/JournalDialog.h"
#include "update/RecoveryOffer.h"
#include "update/UpdateLog.h"
#include "update/UpdateRun.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QSignalSpy>
#include <QTreeWidget>

#include <QFileInfo>

#include <filesystem>
#include <fstream>
#include <optional>

namespace qx::test {
namespace {

using state::JournalEntry;
using state::UpdateState;

class JournalTest : public WindowTest {
protected:
    QTemporaryDir stateDir;
    std::filesystem::path journalFile;
    std::unique_ptr<state::UpdateJournal> journal;
    state::SettingsMemory memory{{}};

    void SetUp() override {
        WindowTest::SetUp();
        journalFile = std::filesystem::path(stateDir.path().toStdString()) / "update-journal";
        useJournal(journalFile);
    }
    void useJournal(const std::filesystem::path& file) {
        journal = std::make_unique<state::UpdateJournal>(file);
        tfu->setStateStore(journal.get(), &memory);
    }
    // What the file on disk says, read afresh.
    std::vector<JournalEntry> onDisk() const {
        state::UpdateJournal reread(journalFile);
        EXPECT_EQ(reread.load(), "");
        return reread.entries();
    }
    static Bytes fileBytes(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
        return Bytes(b.begin(), b.end());
    }
    // An entry as a transfer cut off after `done` blocks of `path` would have left it.
    JournalEntry cutOff(const QString& path, std::uint32_t done) {
        const Bytes bytes = fileBytes(path);
        JournalEntry e;
        e.started = 1765370000;
        e.serial = "QX7700000042";
        e.unitName = kBootName;
        e.unitVersion = "1.2";
        e.packagePath = path.toStdString();
        e.packageSize = bytes.size();
        e.packageSha256 = sha256Hex(bytes);
        e.packageName = kModelName;
        e.packageVersion = "1.0";
        e.blocksDone = done;
        e.blocksTotal = 3;
        return e;
    }
};

TEST_F(JournalTest, TransferIsRecordedWithPackageSnapshotAndOutcome) {
    DeviceSettings before = factoryDefaults();
    before.gainRight = -9;
    memory.remember("QX7700000042", before);
    const QString path = packages.package(kModelName, pattern(1000), pattern(100));
    selectPackage(path);

    const auto entries = onDisk();
    ASSERT_EQ(entries.size(), 1u);
    const JournalEntry& e = entries[0];
    const Bytes bytes = fileBytes(path);
    EXPECT_EQ(e.serial, "QX7700000042");
    EXPECT_EQ(e.unitName, kBootName);
    EXPECT_EQ(e.unitVersion, "1.2");
    EXPECT_EQ(e.packagePath, path.toStdString());
    EXPECT_EQ(e.packageSize, bytes.size());
    EXPECT_EQ(QByteArray::fromStdString(e.packageSha256),
              QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<qsizetype>(bytes.size())),
                                       QCryptographicHash::Sha256)
                  .toHex());
    EXPECT_EQ(e.packageName, kModelName);
    EXPECT_EQ(e.packageVersion, "1.0");
    EXPECT_EQ(e.snapshot, before);
    EXPECT_EQ(e.blocksDone, 3u);
    EXPECT_EQ(e.blocksTotal, 3u);
    EXPECT_EQ(e.state, UpdateState::Completed);
    EXPECT_GE(e.ended, e.started);
}

struct OutcomeCase {
    const char* name;
    bool refuseWrites;
    bool corruptAnswers;
    UpdateState state;
    std::uint32_t blocksDone;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.name;
}

class JournalOutcome : public JournalTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(JournalOutcome, IsWhatTheOperatorWasTold) {
    const OutcomeCase& c = GetParam();
    tfu->setVerdictWait(std::chrono::milliseconds(300));
    const QString path = packages.package(kModelName, pattern(1000), pattern(100));
    unit::Faults f;
    f.refuseWrites = c.refuseWrites;
    f.corruptCrc = c.corruptAnswers;
    unit.setFaults(f);
    selectPackage(path);
    const auto entries = onDisk();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, c.state);
    EXPECT_EQ(entries[0].blocksDone, c.blocksDone);
    if (c.state == UpdateState::Failed) {
        EXPECT_EQ(entries[0].message, "Update failed. Try again..");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, JournalOutcome,
    ::testing::Values(OutcomeCase{"Confirmed", false, false, UpdateState::Completed, 3},
                      OutcomeCase{"NotConfirmed", false, true, UpdateState::Unconfirmed, 3},
                      OutcomeCase{"BlockRefused", true, false, UpdateState::Failed, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The unit may come back from an update that did not finish with its settings already reset,
// and those are what was remembered since: a run after it keeps the snapshot taken before it,
// so that the settings can be offered back once the unit runs again.
TEST_F(JournalTest, RunAfterAnUnfinishedOneKeepsTheSnapshotFromBeforeIt) {
    DeviceSettings operators = factoryDefaults();
    operators.preset = 3;
    operators.gainLeft = -7;
    const DeviceSettings reset = factoryDefaults();
    struct Row {
        const char* name;
        std::optional<UpdateState> before; // the unit's last entry; none: no entry
        bool beforeHasSnapshot;
        bool keepsOperators; // else the snapshot is what is remembered now
    };
    const Row rows[] = {
        {"cut off", UpdateState::Running, true, true},
        {"a block failed", UpdateState::Failed, true, true},
        {"no verdict", UpdateState::Unconfirmed, true, true},
        {"refused by the unit", UpdateState::Refused, true, true},
        {"completed", UpdateState::Completed, true, false},
        {"cut off without a snapshot", UpdateState::Running, false, false},
        {"first update", std::nullopt, false, false},
    };
    const QString path = packages.package(kModelName, pattern(1000), pattern(100));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove(journalFile);
        useJournal(journalFile);
        if (r.before) {
            JournalEntry e = cutOff(path, 1);
            e.state = *r.before;
            if (r.beforeHasSnapshot) {
                e.snapshot = operators;
            }
            journal->add(e);
        }
        memory.remember("QX7700000042", reset);
        tfu->setUpdateButtonsEnabled(true);
        selectPackage(path);
        const auto entries = onDisk();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back().state, UpdateState::Completed);
        EXPECT_EQ(entries.back().snapshot, r.keepsOperators ? operators : reset);
    }
}

TEST_F(JournalTest, UnfinishedUpdateIsOfferedAndRunOnlyOnTheClick) {
    const Bytes flash = pattern(1000, 9);
    const Bytes eeprom = pattern(100, 3);
    const QString path = packages.package(kModelName, flash, eeprom);
    journal->add(cutOff(path, 2));
    QSignalSpy offered(tfu.get(), &Tfu::recoveryOffered);

    tfu->setUpdateButtonsEnabled(true); // the scan finds the unit in its boot loader
    tfu->setUpdateButtonsEnabled(true); // and again, after some other device change
    ASSERT_TRUE(tfu->offer->isVisible());
    EXPECT_EQ(offered.count(), 1) << "announced once per entry";
    const QString text = tfu->offer->text->text();
    EXPECT_TRUE(text.contains(QFileInfo(path).fileName())) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("version 1.0"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("2 of 3 blocks"))) << text.toStdString();
    EXPECT_GT(tfu->height(), 317) << "the window grows to hold the offer";
    QTest::qWait(100);
    EXPECT_EQ(blocksSent() + sent(cmd::kFinish), 0u) << "nothing starts without the click";

    tfu->offer->run->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->busy(); }, 10000));
    const Bytes f = unit.flash();
    const Bytes e = unit.eeprom();
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), f.begin()));
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), e.begin()));
    EXPECT_EQ(sent(cmd::kErase), 2u) << "run again from the start";
    const auto entries = onDisk();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].state, UpdateState::Completed);
    EXPECT_FALSE(tfu->offer->isVisibleTo(tfu.get()));
}

// The package of the cut-off update is checked before anything is sent: a changed or missing
// file is refused with a message and the operator is asked for the package instead.
struct ChangedPackageCase {
    const char* name;
    bool remove;
    const char* says;
};

void PrintTo(const ChangedPackageCase& c, std::ostream* os) {
    *os << c.name;
}

class ChangedPackage : public JournalTest,
                       public ::testing::WithParamInterface<ChangedPackageCase> {};

TEST_P(ChangedPackage, IsRefusedAndThePackageAskedFor) {
    const ChangedPackageCase& c = GetParam();
    const QString path = packages.package(kModelName, pattern(1000), pattern(100));
    journal->add(cutOff(path, 1));
    tfu->setUpdateButtonsEnabled(true);
    ASSERT_TRUE(tfu->offer->isVisible());
    if (c.remove) {
        QFile::remove(path);
    } else {
        // Same size, one byte different: only the hash tells.
        Bytes bytes = fileBytes(path);
        bytes.back() ^= 1;
        packages.write(QFileInfo(path).fileName(), bytes);
    }
    bool asked = false;
    dialogs.onOpen = [&] { asked = true; };
    tfu->offer->run->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->busy(); }));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromLatin1(c.says)))
        << dialogs.messages[0].text.toStdString();
    EXPECT_TRUE(asked);
    settleLink();
    EXPECT_EQ(blocksSent() + sent(cmd::kFinish), 0u);
    EXPECT_TRUE(tfu->select->isEnabled()) << "the cancelled dialog leaves the window idle";
}

INSTANTIATE_TEST_SUITE_P(Packages, ChangedPackage,
                         ::testing::Values(ChangedPackageCase{"Changed", false, "has changed"},
                                           ChangedPackageCase{"Gone", true, "cannot be read"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JournalTest, CompletedUpdateOrOtherUnitsEntryIsNotOffered) {
    const QString path = packages.package(kModelName, pattern(1000), {});
    JournalEntry done = cutOff(path, 3);
    done.state = UpdateState::Completed;
    JournalEntry other = cutOff(path, 1);
    other.serial = "another unit";
    journal->add(other);
    journal->add(done);
    tfu->setUpdateButtonsEnabled(true);
    EXPECT_FALSE(tfu->offer->isVisibleTo(tfu.get()));
    EXPECT_EQ(tfu->height(), 317);
}

// A journal that cannot be written at the start is the operator's call.
class UnwritableJournal : public JournalTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnwritableJournal, AsksWhetherToGoOn) {
    const bool goOn = GetParam();
    // A plain file where the journal's folder should be.
    const QString blocker = packages.write(QStringLiteral("blocker"), {1});
    useJournal(std::filesystem::path(blocker.toStdString()) / "update-journal");
    dialogs.questionAnswer = goOn ? QMessageBox::Yes : QMessageBox::No;
    selectPackage(packages.package(kModelName, pattern(1000), pattern(100)));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_TRUE(
        dialogs.messages[0].text.startsWith(QStringLiteral("No update journal can be kept")))
        << dialogs.messages[0].text.toStdString();
    settleLink();
    if (goOn) {
        EXPECT_EQ(blocksSent(), 5u);
        EXPECT_EQ(dialogs.messages.back().text, QStringLiteral("Обновление завершено успешно!"));
        return;
    }
    EXPECT_EQ(blocksSent() + sent(cmd::kFinish), 0u);
    EXPECT_TRUE(tfu->select->isEnabled());
    EXPECT_FALSE(link.updateInProgress);
    EXPECT_TRUE(journal->entries().empty()) << "a transfer not started leaves no entry";
}

INSTANTIATE_TEST_SUITE_P(Answer, UnwritableJournal, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "GoOn" : "Stop"; });

// The journal's folder vanishes under a running transfer: the transfer goes on to its end, and
// the operator hears about the journal afterwards.
TEST_F(JournalTest, WriteFailingDuringTheTransferNeitherStopsNorSlowsIt) {
    const std::filesystem::path folder =
        std::filesystem::path(stateDir.path().toStdString()) / "state";
    journalFile = folder / "update-journal";
    useJournal(journalFile);
    dialogs.files.push_back(packages.package(kModelName, pattern(24 * 1024), pattern(600)));
    tfu->select->click();
    ASSERT_TRUE(tfu->transferring());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tfu->pb->value() >= 10; }, 5000));
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "in the way";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->busy(); }, 20000));
    EXPECT_EQ(sent(cmd::kWriteFlash), 48u);
    EXPECT_EQ(sent(cmd::kWriteEeprom), 2u);
    EXPECT_TRUE(dialogs.find(QStringLiteral("Обновление завершено успешно!")));
    ASSERT_EQ(dialogs.messages.size(), 2u) << dialogs.texts().join(u'|').toStdString();
    EXPECT_TRUE(dialogs.messages[0].text.startsWith(
        QStringLiteral("The update journal could not be written")));
}

TEST_F(JournalTest, HistoryListsTheLastUpdatesNewestFirst) {
    const QString path = packages.package(kModelName, pattern(1000), {});
    JournalEntry old = cutOff(path, 1);
    old.state = UpdateState::Failed;
    old.message = "Update failed. Try again..";
    JournalEntry recent = cutOff(path, 3);
    recent.state = UpdateState::Completed;
    recent.packageVersion = "2.1";
    journal->add(old);
    journal->add(recent);
    tfu->hist->click();
    auto* dialog = tfu->findChild<JournalDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    QTreeWidget* list = dialog->list;
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const QTreeWidgetItem* first = list->topLevelItem(0);
    EXPECT_EQ(first->text(1), QStringLiteral("QX7700000042"));
    EXPECT_EQ(first->text(2), QStringLiteral("1.2"));
    EXPECT_EQ(first->text(3), QStringLiteral("2.1"));
    EXPECT_EQ(first->text(4), QStringLiteral("completed"));
    EXPECT_EQ(list->topLevelItem(1)->text(4),
              QStringLiteral("failed after 1 of 3 blocks: Update failed. Try again.."));
}

// The link's transfer is taken at the moment a run starts, after the dialogs on the way there
// (the file dialog, the changed-package message, the journal question), which run the event loop
// and so let a command handed to the program start a transfer of its own. Here "another
// starter" takes the claim from inside a dialog; whoever took it first keeps it.
struct ClaimCase {
    const char* name;
    bool runAgain;        // through the offer to run an unfinished update again
    bool journalQuestion; // the other starter tries while the journal question is up
};

void PrintTo(const ClaimCase& c, std::ostream* os) {
    *os << c.name;
}

class TransferTakenInADialog : public JournalTest,
                               public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(TransferTakenInADialog, OnlyTheFirstStarterSends) {
    const ClaimCase& c = GetParam();
    const QString path = packages.package(kModelName, pattern(1000), pattern(100));
    std::optional<TransferClaim> other;
    bool otherRefused = false;
    if (c.journalQuestion) {
        const QString blocker = packages.write(QStringLiteral("blocker"), {1});
        useJournal(std::filesystem::path(blocker.toStdString()) / "update-journal");
        dialogs.questionAnswer = QMessageBox::No;
        dialogs.onMessage = [&](const ShownMessage& m) {
            if (m.text.startsWith(QStringLiteral("No update journal can be kept"))) {
                other = TransferClaim::take(link);
                otherRefused = !other;
            }
        };
    } else {
        dialogs.onOpen = [&] { other = TransferClaim::take(link); };
    }
    dialogs.files.push_back(path);
    if (c.runAgain) {
        // The cut-off update's package has changed since: the window asks for it again.
        const QString old = packages.package(kModelName, pattern(900), {});
        journal->add(cutOff(old, 1));
        Bytes bytes = fileBytes(old);
        bytes.back() ^= 1;
        packages.write(QFileInfo(old).fileName(), bytes);
        tfu->setUpdateButtonsEnabled(true);
        ASSERT_TRUE(tfu->offer->isVisible());
        tfu->offer->run->click();
    } else {
        tfu->select->click();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tfu->busy(); }, 10000));
    settleLink();
    EXPECT_EQ(blocksSent() + sent(cmd::kFinish), 0u);
    EXPECT_TRUE(tfu->select->isEnabled());
    if (c.journalQuestion) {
        // The window had taken the transfer before it asked, and gave it back on "No".
        EXPECT_TRUE(otherRefused);
        EXPECT_FALSE(link.transferRunning);
        return;
    }
    ASSERT_TRUE(other.has_value());
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages.back().text,
              QStringLiteral("A firmware update is already running. The package was not sent to "
                             "the unit."));
    EXPECT_EQ(dialogs.messages.back().icon, Dialogs::Icon::Error);
    EXPECT_FALSE(tfu->transferring());
    EXPECT_TRUE(link.transferRunning) << "the other starter keeps its transfer";
    other.reset();
    EXPECT_FALSE(link.transferRunning);
}

INSTANTIATE_TEST_SUITE_P(Starters, TransferTakenInADialog,
                         ::testing::Values(ClaimCase{"SelectFile", false, false},
                                           ClaimCase{"RunAgainAskingForThePackage", true, false},
                                           ClaimCase{"JournalQuestion", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qx::test
