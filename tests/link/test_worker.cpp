// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinkWorker.h"
#include "unit/UnitPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qx {
namespace {

using namespace std::chrono_literals;

// Polls `done` until it holds or two seconds pass; the link is asynchronous by design.
template <typename F>
bool eventually(F done) {
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct WorkerTest : ::testing::Test {
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};
    Receiver receiver{link, nullptr};
    std::atomic<int> redraws{0};
    std::unique_ptr<Tthr> worker;

    void SetUp() override {
        port.setInputHandler(
            [this](const THIDreport& r, uint8_t n) { receiver.onInputReport(r, n); });
        ASSERT_EQ(port.scanForDevices(), 1);
        ASSERT_TRUE(port.openDevice(0));
        link.connected = true;
        worker = std::make_unique<Tthr>(link, port, [this] { ++redraws; });
    }
    void TearDown() override {
        worker.reset();
        port.setInputHandler({});
    }
    unsigned sentOf(uint8_t command) {
        const auto c = unit.counters().byCommand;
        const auto it = c.find(command);
        return it == c.end() ? 0 : it->second;
    }
};

TEST_F(WorkerTest, IdleWorkerSendsNothing) {
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(port.reportsSent(), 0u);
    EXPECT_EQ(redraws, 0);
}

TEST_F(WorkerTest, StatusPollingStoresAnswersAndRedraws) {
    unit.setLevelPattern(unit::LevelPattern::SteadyTone);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(eventually([&] { return link.postStatusRequest(); }));
        ASSERT_TRUE(eventually([&] { return redraws > i; }));
    }
    EXPECT_EQ(link.status().levelLeft, 0);
    EXPECT_EQ(link.status().levelRight, -2);
    EXPECT_EQ(link.settings(), unit.settings());
    EXPECT_EQ(sentOf(0x00), 3u);
}

TEST_F(WorkerTest, PollingWorkerAsksByItselfUntilStopped) {
    link.setStatusPolling(true);
    ASSERT_TRUE(eventually([&] { return redraws >= 3; }));
    EXPECT_GE(sentOf(0x00), 3u);
    worker.reset(); // a worker waiting for its next poll ends at once
    const unsigned sent = sentOf(0x00);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(sentOf(0x00), sent);
}

TEST_F(WorkerTest, SettingsWriteRepeatsUntilAcknowledgedAndStatusWaits) {
    unit::Faults silent;
    silent.silent = true;
    unit.setFaults(silent);
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    ASSERT_TRUE(eventually([&] { return sentOf(0x80) >= 3; }));
    link.postStatusRequest();
    std::this_thread::sleep_for(120ms);
    EXPECT_EQ(sentOf(0x00), 0u) << "status requests are consumed by the resend";
    EXPECT_FALSE(link.writeAcked());

    unit.setFaults({});
    ASSERT_TRUE(eventually([&] { return link.writeAcked(); }));
    EXPECT_EQ(link.settings().muteOn, 1);
    EXPECT_EQ(unit.settings().muteOn, 1);
    const unsigned writes = sentOf(0x80);
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(sentOf(0x80), writes) << "no resend once acknowledged";
}

TEST_F(WorkerTest, RequestWhileDisconnectedReturnsFalseAfterOnePass) {
    link.connected = false;
    EXPECT_FALSE(link.waitTaken(link.post(0xFD)));
    EXPECT_EQ(port.reportsSent(), 0u);
    EXPECT_FALSE(link.pending());
}

TEST_F(WorkerTest, LostAndCorruptedAnswersAreRecoveredByTheNextExchange) {
    unit::Faults f;
    f.dropEveryNth = 2;
    unit.setFaults(f);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(eventually([&] { return link.postStatusRequest(); }));
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(eventually([&] { return redraws >= 2; }));

    f = {};
    f.corruptCrc = true;
    unit.setFaults(f);
    link.save([](DeviceSettings& s) { s.dimMode = 2; });
    std::this_thread::sleep_for(250ms);
    EXPECT_FALSE(link.writeAcked()) << "corrupted acknowledgements are dropped";
    unit.setFaults({});
    EXPECT_TRUE(eventually([&] { return link.writeAcked(); }));
    EXPECT_EQ(unit.settings().dimMode, 2);
}

// The counters after faults the virtual unit injects: what a diagnostics report shows of a
// link that misbehaves.
TEST_F(WorkerTest, CountersAfterInjectedFaults) {
    unit::Faults f;
    f.corruptCrc = true;
    unit.setFaults(f);
    ASSERT_TRUE(eventually([&] { return link.postStatusRequest(); }));
    ASSERT_TRUE(eventually([&] { return link.counters.snapshot().crcFailures >= 1; }));
    EXPECT_EQ(link.counters.snapshot().answersReceived, 0u);
    EXPECT_FALSE(link.counters.snapshot().lastAnswerAge);

    f = {};
    f.silent = true;
    unit.setFaults(f);
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    ASSERT_TRUE(eventually([&] { return link.counters.snapshot().resends >= 2; }));

    f = {};
    f.refuseWrites = true;
    unit.setFaults(f);
    // A resend is counted as it starts: the one under way may still go through. Once one piece
    // is refused every later send is, so the frames sent are counted from then on.
    ASSERT_TRUE(eventually([&] { return link.counters.snapshot().piecesRefused >= 1; }));
    const uint64_t sentBefore = link.counters.snapshot().framesSent;
    ASSERT_TRUE(eventually([&] { return link.counters.snapshot().piecesRefused >= 2; }));
    EXPECT_EQ(link.counters.snapshot().framesSent, sentBefore);

    unit.setFaults({});
    ASSERT_TRUE(eventually([&] { return link.writeAcked(); }));
    const LinkCountersSnapshot c = link.counters.snapshot();
    EXPECT_GE(c.answersReceived, 1u);
    ASSERT_TRUE(c.lastAnswerAge);
    EXPECT_LT(*c.lastAnswerAge, std::chrono::seconds(2));
}

// The resend counter counts repeats only: the first send of each write is none, answered at
// once or not.
TEST_F(WorkerTest, ResendsCountOnlyTheRepeatsOfAWrite) {
    struct Case {
        const char* name;
        unsigned silentSends; // writes the unit leaves unanswered
    };
    for (const Case c : {Case{"answered at once", 0}, Case{"answered after three sends", 3}}) {
        SCOPED_TRACE(c.name);
        const uint64_t resendsBefore = link.counters.snapshot().resends;
        const unsigned writesBefore = sentOf(0x80);
        if (c.silentSends > 0) {
            unit::Faults silent;
            silent.silent = true;
            unit.setFaults(silent);
        }
        link.save([](DeviceSettings& s) { s.muteOn = s.muteOn != 0 ? 0 : 1; });
        ASSERT_TRUE(eventually([&] { return sentOf(0x80) >= writesBefore + c.silentSends; }));
        unit.setFaults({});
        ASSERT_TRUE(eventually([&] { return link.writeAcked(); }));
        // Read together until they agree: a resend may still be on its way to the unit.
        uint64_t writes = 0;
        uint64_t resends = 0;
        EXPECT_TRUE(eventually([&] {
            resends = link.counters.snapshot().resends - resendsBefore;
            writes = sentOf(0x80) - writesBefore;
            return resends + 1 == writes;
        })) << writes
            << " writes, " << resends << " counted as resends";
        EXPECT_GE(writes, std::max(c.silentSends, 1u));
    }
}

TEST_F(WorkerTest, UpdateCommandsReachABootingUnitDespiteAnUnconfirmedWrite) {
    unit::Faults silent;
    silent.silent = true;
    unit.setFaults(silent);
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    ASSERT_TRUE(eventually([&] { return sentOf(0x80) >= 1; }));
    unit.setFaults({});
    unit.restart(true);
    std::vector<uint8_t> block(516, 0x11);
    block[0] = 0;
    block[1] = 0;
    block[2] = 0x02;
    block[3] = 0x00;
    EXPECT_TRUE(link.waitTaken(link.post(0xF0, std::vector<uint8_t>{0, 0})));
    EXPECT_TRUE(link.waitTaken(link.post(0xF1, block)));
    EXPECT_EQ(sentOf(0xF0), 1u);
    EXPECT_EQ(sentOf(0xF1), 1u);
    EXPECT_EQ(unit.flash()[0], 0x11);
}

TEST_F(WorkerTest, StopEndsTheLoopAndReleasesWaiters) {
    worker->requestStop();
    worker->join();
    EXPECT_FALSE(worker->running());
    EXPECT_FALSE(link.waitTaken(link.post(0xFD)));
}

// Posting, sending and receiving at full speed together; run under ThreadSanitizer.
TEST_F(WorkerTest, ConcurrentTrafficStress) {
    std::jthread operatorThread([&](std::stop_token st) {
        int i = 0;
        while (!st.stop_requested()) {
            if (++i % 10 == 0) {
                link.save([i](DeviceSettings& s) { s.preset = static_cast<uint8_t>(i & 3); });
            } else {
                link.postStatusRequest();
            }
            (void)link.settings();
            (void)link.status();
            std::this_thread::sleep_for(200us);
        }
    });
    std::jthread plugger([&](std::stop_token st) {
        while (!st.stop_requested()) {
            std::this_thread::sleep_for(20ms);
            link.connected = false;
            port.closeDevice();
            port.openDevice(0);
            link.connected = true;
        }
    });
    std::this_thread::sleep_for(400ms);
    operatorThread.request_stop();
    plugger.request_stop();
    operatorThread.join();
    plugger.join();
    EXPECT_TRUE(eventually([&] { return link.writeAcked(); }));
    EXPECT_GT(redraws, 0);
}

} // namespace
} // namespace qx
