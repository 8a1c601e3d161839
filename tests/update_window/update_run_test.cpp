// SPDX-License-Identifier: GPL-3.0-or-later
// The update run on its own: which requests go out, with which bytes, in which order, and how a
// failed block ends it.
#include "Fixtures.h"

#include "update/UpdateRun.h"

#include <optional>
#include <string>

namespace qx::test {
namespace {

using namespace std::chrono_literals;

struct Step {
    std::uint8_t command;
    int address; // -1: no payload
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << std::hex << "{0x" << int(s.command) << " @" << s.address << "}" << std::dec;
}

std::vector<Step> steps(const std::vector<RecordingLink::Taken>& taken) {
    std::vector<Step> out;
    for (const auto& t : taken) {
        const Bytes& p = t.request.payload;
        out.push_back({t.request.command, p.size() >= 2 ? (p[0] << 8 | p[1]) : -1});
    }
    return out;
}

TEST(UpdatePayload, ProgressRoundsHalvesToEven) {
    struct Case {
        std::size_t sent, total;
        int percent;
    };
    for (const Case c :
         {Case{512, 1100, 47}, Case{1000, 1100, 91}, Case{1100, 1100, 100}, Case{1, 8, 12},
          Case{3, 8, 38}, Case{5, 8, 62}, Case{7, 8, 88}, Case{0, 0, 100}}) {
        EXPECT_EQ(progressPercent(c.sent, c.total), c.percent) << c.sent << "/" << c.total;
    }
}

TEST(UpdatePayload, ShortBlockIsPaddedAndStillClaimsAWholeBlock) {
    const Bytes data = pattern(488);
    const BlockPayload p = blockPayload(0x0200, data);
    EXPECT_EQ((Bytes{p[0], p[1], p[2], p[3]}), (Bytes{0x02, 0x00, 0x02, 0x00}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), p.begin() + 4));
    EXPECT_TRUE(
        std::all_of(p.begin() + 4 + 488, p.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(erasePayload(0xFE00), (std::array<std::uint8_t, 2>{0xFE, 0x00}));
}

struct SequenceCase {
    const char* name;
    std::size_t flash, eeprom;
    std::vector<Step> expected;
    std::vector<int> progress;
};

void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.name;
}

class RunSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(RunSequence, SendsEachBlockInOrderThenPostsTheFinish) {
    const SequenceCase& c = GetParam();
    RecordingLink rec;
    UpdateRun run(rec.link, 0ms);
    std::vector<int> progress;
    const UpdateImages images{pattern(c.flash, 3), pattern(c.eeprom, 5)};
    EXPECT_EQ(run.run(images, [&](int p) { progress.push_back(p); }), RunOutcome::Completed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rec.link.pending(); }));
    EXPECT_EQ(steps(rec.taken()), c.expected);
    EXPECT_EQ(progress, c.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Images, RunSequence,
    ::testing::Values(
        SequenceCase{"Flash1000",
                     1000,
                     0,
                     {{0xF0, 0}, {0xF1, 0}, {0xF0, 0x200}, {0xF1, 0x200}, {0xFA, -1}},
                     {51, 100}},
        SequenceCase{"Flash1000Eeprom100",
                     1000,
                     100,
                     {{0xF0, 0}, {0xF1, 0}, {0xF0, 0x200}, {0xF1, 0x200}, {0xF3, 0}, {0xFA, -1}},
                     {47, 91, 100}},
        SequenceCase{"EepromOnly", 0, 600, {{0xF3, 0}, {0xF3, 0x200}, {0xFA, -1}}, {85, 100}},
        SequenceCase{"BothEmpty", 0, 0, {{0xFA, -1}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateRunBytes, ThousandByteFlashImageGoesOutAsTwoPaddedBlocks) {
    RecordingLink rec;
    UpdateRun run(rec.link);
    const Bytes flash = pattern(1000);
    ASSERT_EQ(run.run({flash, {}}), RunOutcome::Completed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rec.link.pending(); }));
    const auto taken = rec.taken();
    ASSERT_EQ(taken.size(), 5u);

    for (int block = 0; block < 2; ++block) {
        const Bytes& erase = taken[2 * block].request.payload;
        const Bytes& write = taken[2 * block + 1].request.payload;
        EXPECT_EQ(erase, (Bytes{static_cast<std::uint8_t>(block * 2), 0}));
        ASSERT_EQ(write.size(), 516u);
        EXPECT_EQ(write[2], 0x02) << "length is always 512";
        EXPECT_EQ(write[3], 0x00);
        const std::size_t n = block == 0 ? 512 : 488;
        EXPECT_TRUE(std::equal(write.begin() + 4, write.begin() + 4 + static_cast<long>(n),
                               flash.begin() + block * 512));
        EXPECT_TRUE(std::all_of(write.begin() + 4 + static_cast<long>(n), write.end(),
                                [](std::uint8_t b) { return b == 0xFF; }));
    }
    // Each flash write is followed by the pause the unit needs to program it.
    EXPECT_GE(taken[2].at - taken[1].at, kFlashBlockPause);
    EXPECT_GE(taken[4].at - taken[3].at, kFlashBlockPause);
}

struct FailureCase {
    const char* name;
    std::size_t flash, eeprom;
    std::size_t failingTake;
    RunOutcome outcome;
    std::size_t takenCount; // nothing is sent after the failed block
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class RunFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RunFailure, EndsAtTheFailedBlock) {
    const FailureCase& c = GetParam();
    RecordingLink rec;
    rec.failTake(c.failingTake);
    UpdateRun run(rec.link, 0ms);
    EXPECT_EQ(run.run({pattern(c.flash), pattern(c.eeprom)}), c.outcome);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rec.link.pending(); }));
    const auto taken = rec.taken();
    EXPECT_EQ(taken.size(), c.takenCount);
    for (const auto& t : taken) {
        EXPECT_NE(t.request.command, cmd::kFinish);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, RunFailure,
    ::testing::Values(
        // erase 0, write 0, erase 512, write 512 (fails)
        FailureCase{"SecondFlashWrite", 1024, 100, 3, RunOutcome::FlashFailed, 4},
        // two flash blocks complete, then the EEPROM block fails
        FailureCase{"EepromAfterCompleteFlash", 1024, 100, 4, RunOutcome::EepromFailed, 5},
        FailureCase{"SecondEepromBlock", 0, 1000, 1, RunOutcome::EepromFailed, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateRunFailure, RefusedEraseEndsTheRunBeforeItsBlock) {
    RecordingLink rec;
    rec.failTake(2); // the second block's erase
    UpdateRun run(rec.link, 0ms);
    EXPECT_EQ(run.run({pattern(1000), {}}), RunOutcome::FlashFailed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rec.link.pending(); }));
    EXPECT_EQ(steps(rec.taken()),
              (std::vector<Step>{{cmd::kErase, 0}, {cmd::kWriteFlash, 0}, {cmd::kErase, 512}}));
}

TEST(UpdateRunFailure, RefusedFinishIsNotASuccess) {
    RecordingLink rec;
    rec.failTake(2); // erase, write, finish
    UpdateRun run(rec.link, 0ms);
    EXPECT_EQ(run.run({pattern(10), {}}), RunOutcome::FinishFailed);
    EXPECT_EQ(steps(rec.taken()).back(), (Step{cmd::kFinish, -1}));
}

TEST(UpdateRunFailure, ImageBeyondSixteenBitAddressesSendsNothing) {
    RecordingLink rec;
    UpdateRun run(rec.link, 0ms);
    EXPECT_EQ(run.run({Bytes(kMaxImageSize + 1), {}}), RunOutcome::TooLarge);
    EXPECT_TRUE(rec.taken().empty());
}

TEST(UpdateRunFailure, StopEndsTheRunBetweenRequests) {
    RecordingLink rec;
    UpdateRun run(rec.link, 0ms);
    std::stop_source stop;
    EXPECT_EQ(run.run(
                  {pattern(2048), {}}, [&](int) { stop.request_stop(); }, stop.get_token()),
              RunOutcome::Stopped);
    EXPECT_EQ(rec.taken().size(), 2u);
}

// Against the virtual unit through the real worker.
class RunOnUnit : public ::testing::Test {
protected:
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};
    std::unique_ptr<Tthr> worker;

    void SetUp() override {
        unit.restart(true);
        ASSERT_EQ(port.scanForDevices(), 1);
        ASSERT_TRUE(port.openDevice(0));
        link.connected = true;
        link.bootMode = true;
        worker = std::make_unique<Tthr>(link, port, [] {});
    }
    void TearDown() override { worker.reset(); }
    unsigned sent(std::uint8_t command) const {
        const auto c = unit.counters().byCommand;
        const auto it = c.find(command);
        return it == c.end() ? 0 : it->second;
    }
};

TEST_F(RunOnUnit, UnitHoldsBothImagesByteForByte) {
    const Bytes flash = pattern(1500, 9);
    const Bytes eeprom = pattern(700, 4);
    UpdateRun run(link);
    ASSERT_EQ(run.run({flash, eeprom}), RunOutcome::Completed);
    const Bytes f = unit.flash();
    const Bytes e = unit.eeprom();
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), f.begin()));
    EXPECT_TRUE(std::all_of(f.begin() + 1500, f.begin() + 1536, [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), e.begin()));
    EXPECT_EQ(sent(cmd::kErase), 3u);
    EXPECT_EQ(sent(cmd::kWriteFlash), 3u);
    EXPECT_EQ(sent(cmd::kWriteEeprom), 2u);
}

TEST_F(RunOnUnit, UnpluggingMidTransferFailsTheNextBlock) {
    UpdateRun run(link, 0ms);
    int blocks = 0;
    const RunOutcome outcome = run.run({pattern(4096), {}}, [&](int) {
        if (++blocks == 2) {
            port.setPlugged(false);
        }
    });
    EXPECT_EQ(outcome, RunOutcome::FlashFailed);
    EXPECT_EQ(sent(cmd::kWriteFlash), 2u);
    EXPECT_EQ(sent(cmd::kFinish), 0u);
}

TEST_F(RunOnUnit, UpdateCommandsGoOutDespiteAnUnconfirmedSettingsWrite) {
    // A write left unconfirmed before the unit restarted in its boot loader.
    unit::Faults silent;
    silent.silent = true;
    unit.setFaults(silent);
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent(cmd::kSettingsWrite) >= 1; }));
    UpdateRun run(link, 0ms);
    ASSERT_EQ(run.run({pattern(600), pattern(10)}), RunOutcome::Completed);
    EXPECT_EQ(sent(cmd::kWriteFlash), 2u);
    EXPECT_EQ(sent(cmd::kWriteEeprom), 1u);
    EXPECT_EQ(unit.flash()[599], pattern(600)[599]);
}

TEST(TransferClaim, OneHolderAtATimeUntilGivenBack) {
    LinkState link;
    std::optional<TransferClaim> first = TransferClaim::take(link);
    ASSERT_TRUE(first);
    EXPECT_TRUE(link.transferRunning) << "device changes wait for it";
    EXPECT_FALSE(TransferClaim::take(link));
    TransferClaim moved = std::move(*first);
    first.reset();
    EXPECT_FALSE(TransferClaim::take(link)) << "a moved claim is still held";
    { TransferClaim gone = std::move(moved); }
    EXPECT_FALSE(link.transferRunning);

    // Starters on two threads at once: each round has exactly one winner.
    for (int round = 0; round < 200; ++round) {
        std::optional<TransferClaim> a;
        std::optional<TransferClaim> b;
        std::thread other([&] { b = TransferClaim::take(link); });
        a = TransferClaim::take(link);
        other.join();
        ASSERT_EQ(a.has_value() + b.has_value(), 1) << "round " << round;
    }
}

} // namespace
} // namespace qx::test
