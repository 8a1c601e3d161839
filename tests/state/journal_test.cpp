// SPDX-License-Identifier: GPL-3.0-or-later
// The update journal: what it keeps, that it stays bounded, that damage is reported and never
// trusted, and that progress recording never holds up its caller.
#include "StateFixture.h"

#include "state/UpdateJournal.h"

#include <chrono>
#include <thread>

namespace qx::state::test {
namespace {

JournalEntry sampleEntry(const std::string& serial = "QX7700000042") {
    JournalEntry e;
    e.started = 1765370000;
    e.serial = serial;
    e.unitName = "QX-77ZT (boot)";
    e.unitVersion = "1.2";
    e.packagePath = "/home/op/fw files/QX 2.1%.orbu";
    e.packageSize = 70123;
    e.packageSha256 = std::string(62, 'a') + "0f";
    e.packageName = "QX-77ZT ";
    e.packageVersion = "2.1";
    DeviceSettings s = factoryDefaults();
    s.gainLeft = -7;
    s.muteOn = 1;
    e.snapshot = s;
    e.blocksTotal = 120;
    e.blocksDone = 37;
    return e;
}

using Journal = StateFolderTest;

TEST_F(Journal, EntriesReadBackAsWritten) {
    UpdateJournal journal(root / kJournalFileName);
    JournalEntry first = sampleEntry();
    first.snapshot.reset();
    const auto a = journal.add(first);
    const auto b = journal.add(sampleEntry("other unit"));
    ASSERT_TRUE(a.error.empty() && b.error.empty()) << a.error << b.error;
    ASSERT_TRUE(journal
                    .change(b.id,
                            [](JournalEntry& e) {
                                e.state = UpdateState::Failed;
                                e.message = "Update failed. Try again..";
                                e.ended = 1765370100;
                                e.settingsSettled = true;
                            })
                    .empty());

    UpdateJournal again(root / kJournalFileName);
    ASSERT_EQ(again.load(), "");
    EXPECT_EQ(again.entries(), journal.entries());
    ASSERT_EQ(again.entries().size(), 2u);
    EXPECT_EQ(again.entries()[1].message, "Update failed. Try again..");
    EXPECT_EQ(again.latestFor("QX7700000042")->id, a.id);
    EXPECT_FALSE(again.latestFor("nobody"));
}

TEST_F(Journal, KeepsOnlyTheLastEntries) {
    UpdateJournal journal(root / kJournalFileName);
    for (int i = 0; i < 20; ++i) {
        journal.add(sampleEntry("unit " + std::to_string(i)));
    }
    UpdateJournal again(root / kJournalFileName);
    ASSERT_EQ(again.load(), "");
    const auto entries = again.entries();
    ASSERT_EQ(entries.size(), kJournalEntries);
    EXPECT_EQ(entries.front().serial, "unit 12");
    EXPECT_EQ(entries.back().serial, "unit 19");
    EXPECT_EQ(entries.back().id, 20u);
}

// Each damaged file is reported, moved aside and not trusted; the next entry starts afresh.
TEST_F(Journal, DamagedFilesAreReportedAndIgnored) {
    const std::string good = formatJournal({[] {
        JournalEntry e = sampleEntry();
        e.id = 3;
        return e;
    }()});
    const std::string line = good.substr(good.find('\n') + 1);
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"CutShort", good.substr(0, good.size() - 9)},
        {"Empty", ""},
        {"Garbage", std::string("\x7f"
                                "ELF\x02\x01\x01",
                                7)},
        {"Foreign", "qx77zt update journal 2\n" + line},
        {"FieldMissing", "qx77zt update journal 1\n" + line.substr(0, line.rfind(' ')) + "\n"},
        {"MoreDoneThanTotal", "qx77zt update journal 1\n" +
                                  std::string(line).replace(line.find(" 37 120 "), 8, " 121 120 ")},
        {"IdsOutOfOrder", good + line},
        {"TooManyEntries",
         [&] {
             std::string t = "qx77zt update journal 1\n";
             for (int i = 1; i <= 9; ++i) {
                 JournalEntry e = sampleEntry();
                 e.id = static_cast<std::uint64_t>(i);
                 const std::string one = formatJournal({e});
                 t += one.substr(one.find('\n') + 1);
             }
             return t;
         }()},
    };
    ASSERT_TRUE(parseJournal(bytesOf(good)).ok);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = root / c.name / kJournalFileName;
        write(file, c.text);
        UpdateJournal journal(file);
        const std::string message = journal.load();
        EXPECT_NE(message.find("is ignored"), std::string::npos) << message;
        EXPECT_TRUE(journal.entries().empty());
        EXPECT_EQ(read(file.string() + ".damaged"), c.text) << "kept aside for a look";
        EXPECT_EQ(journal.add(sampleEntry()).id, 1u);
        UpdateJournal reread(file);
        EXPECT_EQ(reread.load(), "");
        EXPECT_EQ(reread.entries().size(), 1u);
    }
}

TEST_F(Journal, UnwritableFolderIsReportedAndTheEntryStillKept) {
    UpdateJournal journal(unwritable(kJournalFileName));
    const auto added = journal.add(sampleEntry());
    EXPECT_FALSE(added.error.empty());
    ASSERT_EQ(journal.entries().size(), 1u);
    EXPECT_FALSE(journal.change(added.id, [](JournalEntry& e) { e.blocksDone = 40; }).empty());
    EXPECT_EQ(journal.entries()[0].blocksDone, 40u);
}

TEST_F(Journal, ProgressRecorderWritesTheLastCountWithoutHoldingUpItsCaller) {
    UpdateJournal journal(root / kJournalFileName);
    const auto id = journal.add(sampleEntry()).id;
    {
        ProgressRecorder recorder(journal, id, std::chrono::milliseconds(50));
        for (std::uint32_t i = 1; i <= 120; ++i) {
            recorder.blocksDone(i);
        }
        EXPECT_EQ(recorder.lastError(), "");
    }
    UpdateJournal again(root / kJournalFileName);
    ASSERT_EQ(again.load(), "");
    EXPECT_EQ(again.entries().at(0).blocksDone, 120u);
}

TEST_F(Journal, ProgressRecorderKeepsAFailedWriteForLater) {
    UpdateJournal journal(unwritable(kJournalFileName));
    const auto id = journal.add(sampleEntry()).id;
    ProgressRecorder recorder(journal, id, std::chrono::milliseconds(10));
    recorder.blocksDone(5);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recorder.lastError().empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(recorder.lastError().empty());
    EXPECT_EQ(journal.entries().at(0).blocksDone, 5u) << "kept in memory all the same";
}

} // namespace
} // namespace qx::state::test
