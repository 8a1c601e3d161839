// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/HandlerSlots.h"
#include "link/LinkFrame.h"
#include "link/Transport.h"
#include "unit/VirtualUnit.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <vector>

namespace qx {
namespace {

using Report = std::array<uint8_t, 65>;

class RecordingPort : public HidPort {
public:
    std::vector<Report> sent;
    std::vector<uint8_t> results; // per call; 64 once exhausted
    uint8_t scanForDevices() override { return 0; }
    void getDeviceInfo(uint8_t, THIDdeviceInfo*) override {}
    bool openDevice(uint8_t) override { return true; }
    bool closeDevice() override { return true; }
    uint8_t setOutputReport(uint8_t* report) override {
        Report r;
        std::memcpy(r.data(), report, r.size());
        sent.push_back(r);
        const std::size_t i = sent.size() - 1;
        return i < results.size() ? results[i] : 64;
    }
};

struct RecordingSink : AnswerSink, ErrorSink {
    std::vector<std::string> events;
    void finishAnswer(bool success) override { events.push_back(success ? "ok" : "failed"); }
    void resetAnswer() override { events.push_back("reset"); }
    void showError(const std::string& text) override { events.push_back("error: " + text); }
};

LinkRequest requestOf(uint8_t command, std::size_t payloadSize) {
    LinkRequest r;
    r.command = command;
    r.payload.resize(payloadSize);
    for (std::size_t i = 0; i < payloadSize; ++i) {
        r.payload[i] = static_cast<uint8_t>(i + 1);
    }
    return r;
}

struct TransportTest : ::testing::Test {
    LinkState link;
    RecordingPort port;
    RecordingSink sink;
    void SetUp() override { link.connected = true; }
};

TEST_F(TransportTest, StatusRequestGoesOutAsOneKnownReport) {
    EXPECT_EQ(sendFrame(link, port, requestOf(0x00, 0)), 64);
    ASSERT_EQ(port.sent.size(), 1u);
    Report expected{};
    expected[0] = 0x01;
    expected[4] = 0x05;
    const uint8_t frame[] = {0x00, 0x00, 0x00, 0xC0, 0x71};
    std::memcpy(&expected[5], frame, sizeof frame);
    expected[63] = 0x05;
    EXPECT_EQ(port.sent[0], expected);
    EXPECT_FALSE(link.busy);
}

TEST_F(TransportTest, PieceBoundaries) {
    struct Case {
        std::size_t payload;
        std::vector<std::size_t> pieces;
    };
    const Case cases[] = {
        {53, {58}},                                  // a 58-byte frame fills one report
        {54, {58, 1}},                               // a 59-byte frame spills one byte
        {18, {23}},                                  // the settings write
        {516, {58, 58, 58, 58, 58, 58, 58, 58, 57}}, // a flash block write
    };
    for (const Case& c : cases) {
        port.sent.clear();
        const LinkRequest req = requestOf(0xF1, c.payload);
        sendFrame(link, port, req);
        const std::vector<uint8_t> frame = buildFrame(req.command, req.payload).bytes;
        ASSERT_EQ(port.sent.size(), c.pieces.size()) << c.payload;
        std::size_t offset = 0;
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const Report& r = port.sent[i];
            EXPECT_EQ((r[1] << 8) | r[2], static_cast<int>(offset));
            EXPECT_EQ((r[3] << 8) | r[4], static_cast<int>(frame.size()));
            EXPECT_EQ(r[63], c.pieces[i]);
            EXPECT_EQ(r[64], 0);
            EXPECT_TRUE(std::equal(
                frame.begin() + static_cast<std::ptrdiff_t>(offset),
                frame.begin() + static_cast<std::ptrdiff_t>(offset + c.pieces[i]), r.begin() + 5));
            EXPECT_TRUE(std::all_of(r.begin() + 5 + static_cast<std::ptrdiff_t>(c.pieces[i]),
                                    r.begin() + 63, [](uint8_t b) { return b == 0; }));
            offset += c.pieces[i];
        }
    }
}

// The unit gets every piece even after a refusal, but a frame with any refused piece did not
// arrive whole and is not reported as sent.
TEST_F(TransportTest, RefusedPieceDoesNotStopTheFrameButFailsIt) {
    port.results = {0, 64, 64, 64, 64, 64, 64, 64, 64};
    EXPECT_EQ(sendFrame(link, port, requestOf(0xF1, 516)), 0);
    EXPECT_EQ(port.sent.size(), 9u);

    port.sent.clear();
    port.results = {64, 64, 64, 64, 0, 64, 64, 64, 64};
    EXPECT_EQ(sendFrame(link, port, requestOf(0xF1, 516)), 0);
    EXPECT_EQ(port.sent.size(), 9u);

    port.sent.clear();
    port.results = {64, 64, 64, 64, 64, 64, 64, 64, 0};
    EXPECT_EQ(sendFrame(link, port, requestOf(0xF1, 516)), 0);
    EXPECT_EQ(port.sent.size(), 9u);
}

TEST_F(TransportTest, NothingIsSentWithoutAUnitOrForAnOversizedPayload) {
    link.connected = false;
    EXPECT_EQ(sendFrame(link, port, requestOf(0x00, 0)), 0);
    EXPECT_TRUE(port.sent.empty());

    link.connected = true;
    EXPECT_EQ(sendFrame(link, port, requestOf(0xF1, 65531), &sink), 0);
    EXPECT_TRUE(port.sent.empty());
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].rfind("error: ", 0), 0u);
    EXPECT_FALSE(link.busy);
}

TEST_F(TransportTest, SettingsWriteCarriesTheRecordAsItIsWhenSent) {
    link.save([](DeviceSettings& s) { s.muteOn = 1; });
    link.editSettings([](DeviceSettings& s) { s.gainLeft = -7; });
    sendFrame(link, port, link.resendRequest());
    ASSERT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(port.sent[0][5], 0x80);
    EXPECT_EQ(port.sent[0][5 + 3 + 9], 1);
    EXPECT_EQ(static_cast<int8_t>(port.sent[0][5 + 3 + 12]), -7);
}

// Input side ------------------------------------------------------------------------------------

THIDreport pieceOf(const std::vector<uint8_t>& frame, std::size_t offset, std::size_t n,
                   std::size_t totalField) {
    THIDreport r{};
    r.reportId = 1;
    r.data[0] = static_cast<uint8_t>(offset >> 8);
    r.data[1] = static_cast<uint8_t>(offset);
    r.data[2] = static_cast<uint8_t>(totalField >> 8);
    r.data[3] = static_cast<uint8_t>(totalField);
    std::memcpy(&r.data[4], frame.data() + offset, n);
    r.data[62] = static_cast<uint8_t>(n);
    return r;
}

std::vector<uint8_t> answer(uint8_t command, std::vector<uint8_t> payload) {
    return buildFrame(command, payload).bytes;
}

std::vector<uint8_t> statusPayload(uint8_t mute, int8_t level) {
    std::vector<uint8_t> p(38);
    p[9] = mute;
    p[18] = static_cast<uint8_t>(level);
    return p;
}

struct ReceiverTest : TransportTest {
    Receiver receiver{link, &sink};
    void feed(const std::vector<uint8_t>& frame) {
        receiver.onInputReport(pieceOf(frame, 0, frame.size(), 0), 64);
    }
};

TEST_F(ReceiverTest, OffsetZeroTotalZeroCompletesAtOnceWhileTotal58OnlyStores) {
    const auto frame = answer(0x00, statusPayload(0, -2));
    receiver.onInputReport(pieceOf(frame, 0, frame.size(), 58), 64);
    EXPECT_FALSE(link.refreshNeeded());
    EXPECT_EQ(receiver.bufferedBytes(), 58u);

    feed(frame);
    EXPECT_TRUE(link.refreshNeeded());
    EXPECT_EQ(link.status().levelLeft, -2);
    EXPECT_EQ(receiver.bufferedBytes(), 0u);
}

TEST_F(ReceiverTest, OddlySplitAnswersFromTheUnitReassemble) {
    unit::VirtualUnit u;
    unit::Faults f;
    f.pieceSize = 7;
    u.setFaults(f);
    const std::vector<uint8_t> status = buildFrame(0x00, {}).bytes;
    Report out{};
    out[0] = 1;
    out[4] = static_cast<uint8_t>(status.size());
    std::memcpy(&out[5], status.data(), status.size());
    out[63] = static_cast<uint8_t>(status.size());
    ASSERT_TRUE(u.acceptOutputReport(out));
    int pieces = 0;
    while (auto r = u.takeInputReport()) {
        THIDreport rep;
        std::memcpy(&rep, r->data(), sizeof rep);
        receiver.onInputReport(rep, 64);
        ++pieces;
    }
    EXPECT_EQ(pieces, 7); // 43 bytes in pieces of 7
    EXPECT_TRUE(link.refreshNeeded());
    EXPECT_EQ(link.settings(), u.settings());
}

TEST_F(ReceiverTest, AnswerCodesAndAcknowledgement) {
    link.save({});
    link.takeSettingsForSend();
    ASSERT_FALSE(link.writeAcked());

    feed(answer(0x00, statusPayload(1, 5)));
    EXPECT_FALSE(link.refreshNeeded()) << "status ignored while a write is unacknowledged";

    std::vector<uint8_t> swapped = answer(0x80, statusPayload(1, 5));
    std::swap(swapped[41], swapped[42]);
    feed(swapped);
    EXPECT_FALSE(link.writeAcked()) << "a frame with swapped CRC bytes is dropped";

    feed(answer(0xF1, {0x01}));
    EXPECT_TRUE(link.writeAcked()) << "any valid answer with bit 7 acknowledges";
    EXPECT_FALSE(link.refreshNeeded());
    EXPECT_EQ(link.settings().muteOn, 0) << "0xF1 stores nothing";
    EXPECT_TRUE(sink.events.empty());

    feed(answer(0xFA, {1}));
    feed(answer(0xFA, {0}));
    feed(answer(0xFD, {}));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"ok", "failed", "reset"}));
}

// The virtual unit's verdict on an update, through the real frames both ways: success only when
// every flash block was erased before it was written and every block had the full length.
TEST_F(ReceiverTest, VirtualUnitVerdictOnWhatWasWritten) {
    using Step = std::pair<uint8_t, std::vector<uint8_t>>;
    auto erase = [](uint16_t adr) {
        return Step{0xF0, {static_cast<uint8_t>(adr >> 8), static_cast<uint8_t>(adr)}};
    };
    auto block = [](uint8_t command, uint16_t adr, uint16_t length) {
        std::vector<uint8_t> p = {static_cast<uint8_t>(adr >> 8), static_cast<uint8_t>(adr),
                                  static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
        p.resize(4 + length, 0x5A);
        return Step{command, p};
    };
    const Step finish{0xFA, {}};
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> verdicts;
        // What the unit did after the host had taken each verdict: it restarts in normal
        // mode after a successful update, as a unit runs its new firmware.
        std::vector<std::string> restarts;
    };
    const Case cases[] = {
        {"erased, then written", {erase(0), block(0xF1, 0, 512), finish}, {"ok"}, {"normal"}},
        {"written without an erase", {block(0xF1, 0x200, 512), finish}, {"failed"}, {}},
        {"one erase, two writes",
         {erase(0), block(0xF1, 0, 512), block(0xF1, 0, 512), finish},
         {"failed"},
         {}},
        {"short block", {erase(0), block(0xF1, 0, 256), finish}, {"failed"}, {}},
        {"EEPROM needs no erase", {block(0xF3, 0x400, 512), finish}, {"ok"}, {"normal"}},
        {"nothing written", {finish}, {"failed"}, {}},
        {"each finish judges its own run",
         {block(0xF1, 0, 512), finish, erase(0), block(0xF1, 0, 512), finish},
         {"failed", "ok"},
         {"normal"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unit::VirtualUnit u;
        u.restart(true);
        std::vector<std::string> restarts;
        // Only once its verdict has been taken whole: the restart would drop what is queued.
        u.setRestartHandler([&](bool boot) {
            restarts.push_back(boot ? "boot" : "normal");
            EXPECT_EQ(u.queuedReports(), 0u);
            EXPECT_EQ(sink.events.size(), c.verdicts.size() - 1) << "before the host saw it";
        });
        sink.events.clear();
        for (const auto& [command, payload] : c.steps) {
            port.sent.clear();
            LinkRequest request;
            request.command = command;
            request.payload = payload;
            ASSERT_EQ(sendFrame(link, port, request), 64);
            for (const Report& r : port.sent)
                ASSERT_TRUE(u.acceptOutputReport(r));
            while (auto in = u.takeInputReport()) {
                THIDreport rep;
                std::memcpy(&rep, in->data(), sizeof rep);
                receiver.onInputReport(rep, 64);
            }
        }
        EXPECT_EQ(sink.events, c.verdicts);
        EXPECT_EQ(restarts, c.restarts);
        u.setRestartHandler({});
    }
}

// A well-formed answer too short to hold the records acknowledges but changes nothing: copied,
// its CRC and stale bytes would become settings that the next click writes to the unit.
TEST_F(ReceiverTest, ShortAnswerAcknowledgesButLeavesTheRecords) {
    feed(answer(0x00, statusPayload(0, -7)));
    const DeviceSettings before = link.settings();
    link.save({});
    link.takeSettingsForSend();
    ASSERT_FALSE(link.writeAcked());
    feed(answer(0x80, {0x55, 0x66, 0x77}));
    EXPECT_TRUE(link.writeAcked());
    EXPECT_EQ(link.settings(), before);
    EXPECT_EQ(link.status().levelLeft, -7);

    std::vector<uint8_t> longer = statusPayload(1, 3);
    longer.resize(50, 0xEE); // a longer answer still carries the records first
    feed(answer(0x80, longer));
    EXPECT_EQ(link.settings().muteOn, 1);
    EXPECT_EQ(link.status().levelLeft, 3);
}

// Each kind of answer lands in exactly one counter: the report says what went wrong on the wire.
TEST_F(ReceiverTest, CountersTellGoodAnswersFromCrcAndLengthFailures) {
    std::vector<uint8_t> badCrc = answer(0x00, statusPayload(0, 1));
    badCrc.back() ^= 0x01;
    std::vector<uint8_t> lengthPastEnd = answer(0x00, {});
    lengthPastEnd[1] = 0x01; // 256 payload bytes claimed in a 5-byte frame sent in one piece
    struct Case {
        const char* name;
        std::vector<uint8_t> frame;
        uint64_t answers, crc, length;
    };
    const Case cases[] = {
        {"status answer", answer(0x00, statusPayload(0, 1)), 1, 0, 0},
        {"CRC bit flipped", badCrc, 0, 1, 0},
        {"length past the buffer", lengthPastEnd, 0, 0, 1},
        {"too short to hold the records", answer(0x00, {1, 2, 3}), 1, 0, 1},
        {"update answer", answer(0xF1, {1}), 1, 0, 0},
    };
    for (const Case& c : cases) {
        LinkState fresh;
        Receiver r{fresh, nullptr};
        r.onInputReport(pieceOf(c.frame, 0, c.frame.size(), 0), 64);
        const LinkCountersSnapshot got = fresh.counters.snapshot();
        EXPECT_EQ(got.answersReceived, c.answers) << c.name;
        EXPECT_EQ(got.crcFailures, c.crc) << c.name;
        EXPECT_EQ(got.lengthFailures, c.length) << c.name;
        EXPECT_EQ(got.lastAnswerAge.has_value(), c.answers != 0) << c.name;
    }
}

TEST_F(TransportTest, CountersAndTapSeeEveryPieceAndOnlyWholeFrames) {
    struct Tap : TrafficTap {
        std::vector<std::pair<Report, bool>> sentReports; // report, refused
        void sent(std::span<const uint8_t> r) override {
            Report copy{};
            std::copy(r.begin(), r.end(), copy.begin());
            sentReports.emplace_back(copy, false);
        }
        void refused(std::span<const uint8_t>) override { sentReports.back().second = true; }
        void received(std::span<const uint8_t>) override {}
    } tap;
    link.tap = &tap;
    port.results = {64, 0, 64}; // the second piece of the first frame is refused
    EXPECT_EQ(sendFrame(link, port, requestOf(0xF1, 100)), 0);
    EXPECT_EQ(sendFrame(link, port, requestOf(0x00, 0)), 64);
    const LinkCountersSnapshot c = link.counters.snapshot();
    EXPECT_EQ(c.framesSent, 1u);
    EXPECT_EQ(c.piecesRefused, 1u);
    ASSERT_EQ(tap.sentReports.size(), 3u);
    EXPECT_TRUE(tap.sentReports[1].second);
    EXPECT_FALSE(tap.sentReports[2].second);
    EXPECT_EQ(tap.sentReports[2].first, port.sent[2]);
    link.tap = nullptr;
}

TEST_F(ReceiverTest, GarbageLeavesTheBufferBoundedAndNothingChanged) {
    std::mt19937 rng(1234);
    const DeviceSettings before = link.settings();
    for (int i = 0; i < 20000; ++i) {
        THIDreport r;
        auto* bytes = reinterpret_cast<uint8_t*>(&r);
        for (std::size_t k = 0; k < sizeof r; ++k) {
            bytes[k] = static_cast<uint8_t>(rng());
        }
        receiver.onInputReport(r, static_cast<uint8_t>(rng()));
        ASSERT_LE(receiver.bufferedBytes(), 65535u + 58u);
    }
    EXPECT_EQ(link.settings(), before);
    EXPECT_TRUE(sink.events.empty());
}

} // namespace
} // namespace qx

namespace qx {
namespace {

// A write the library refused never reached the unit: a late acknowledgement of the write before
// it must not overwrite the edit on screen or stop its resend.
TEST_F(ReceiverTest, ARefusedSettingsWriteStaysUnsent) {
    link.save([](DeviceSettings& s) { s.muteOn = 0; }); // write A
    ASSERT_EQ(sendFrame(link, port, link.resendRequest()), 64);
    link.save([](DeviceSettings& s) { s.muteOn = 1; }); // write B, refused
    port.results.assign(port.sent.size() + 1, 0);
    EXPECT_EQ(sendFrame(link, port, link.resendRequest()), 0);

    feed(answer(0x80, statusPayload(0, 0))); // A's acknowledgement, late
    EXPECT_FALSE(link.writeAcked()) << "B still waits for its own";
    EXPECT_EQ(link.settings().muteOn, 1) << "B's edit stays";

    // B goes out on its resend; now its acknowledgement counts.
    ASSERT_EQ(sendFrame(link, port, link.resendRequest()), 64);
    feed(answer(0x80, statusPayload(1, 0)));
    EXPECT_TRUE(link.writeAcked());
    EXPECT_EQ(link.settings().muteOn, 1);
}

// Handling an answer runs on the library's reader thread, where an exception would end the
// program: it is dropped with the frame, and the next frame is handled as usual.
TEST_F(ReceiverTest, AnExceptionWhileHandlingAnAnswerIsDropped) {
    struct ThrowingSink : AnswerSink {
        int resets = 0;
        void finishAnswer(bool) override { throw std::runtime_error("the window is gone"); }
        void resetAnswer() override { ++resets; }
    } throwing;
    Receiver r(link, &throwing);
    HandlerSlot slot;
    ASSERT_TRUE(slot.valid());
    slot.setReceiver(&r);
    const THIDinputHandler onInputReport = slot.inputHandler();
    const auto verdict = answer(0xFA, {1});
    const THIDreport first = pieceOf(verdict, 0, verdict.size(), 0);
    EXPECT_NO_THROW(onInputReport(first, 64));
    EXPECT_EQ(r.bufferedBytes(), 0u);
    const auto reset = answer(0xFD, {});
    EXPECT_NO_THROW(onInputReport(pieceOf(reset, 0, reset.size(), 0), 64));
    EXPECT_EQ(throwing.resets, 1);
}

// A stop asked for while a frame goes out ends it after the report in progress: a stalled unit
// takes the library's whole timeout for every report, and quitting must not wait for them all.
TEST_F(TransportTest, AStopEndsTheFrameAfterTheReportInProgress) {
    std::stop_source stop;
    struct StoppingPort : RecordingPort {
        std::stop_source* stop = nullptr;
        uint8_t setOutputReport(uint8_t* report) override {
            RecordingPort::setOutputReport(report);
            stop->request_stop(); // asked for while this report was under way
            return 0;             // and the unit never took it
        }
    } stalled;
    stalled.stop = &stop;
    EXPECT_EQ(sendFrame(link, stalled, requestOf(0xF1, 516), nullptr, stop.get_token()), 0);
    EXPECT_EQ(stalled.sent.size(), 1u) << "of the frame's 9 reports";
}

// Every slot's handlers reach the receiver set in that slot alone, so that copies of the library
// bound at the same time never hand each other's answers on.
TEST(HandlerSlots, EachSlotReachesOnlyItsOwnReceiver) {
    LinkState links[2];
    Receiver receivers[2] = {Receiver(links[0], nullptr), Receiver(links[1], nullptr)};
    HandlerSlot slots[2];
    ASSERT_TRUE(slots[0].valid() && slots[1].valid());
    EXPECT_NE(slots[0].index(), slots[1].index());
    EXPECT_NE(slots[0].inputHandler(), slots[1].inputHandler());
    EXPECT_NE(slots[0].changeHandler(), slots[1].changeHandler());
    for (int i = 0; i < 2; ++i) {
        slots[i].setReceiver(&receivers[i]);
    }
    const auto frame = answer(0x00, statusPayload(0, -2));
    const THIDreport report = pieceOf(frame, 0, frame.size(), 0);
    struct Case {
        int through;
        uint64_t first, second;
    };
    for (const Case c : {Case{0, 1, 0}, Case{1, 1, 1}, Case{1, 1, 2}}) {
        slots[c.through].inputHandler()(report, 64);
        EXPECT_EQ(links[0].counters.snapshot().answersReceived, c.first) << c.through;
        EXPECT_EQ(links[1].counters.snapshot().answersReceived, c.second) << c.through;
    }
    slots[0].setReceiver(nullptr);
    slots[0].inputHandler()(report, 64);
    EXPECT_EQ(links[0].counters.snapshot().answersReceived, 1u) << "dropped without a receiver";
}

// A device-change call in progress on the library's thread keeps its target: re-targeting the
// slot from another thread waits for the call to end, and the call may re-target its own slot.
TEST(HandlerSlots, ReTargetingWaitsForAChangeCallInProgress) {
    HandlerSlot slot;
    ASSERT_TRUE(slot.valid());
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> callEnded{false};
    int ownRetargets = 0;
    slot.setChangeHandler([&] {
        entered.set_value();
        released.wait();
        slot.setChangeHandler([&] { ++ownRetargets; }); // its own slot, from inside the call
        callEnded = true;
    });
    std::jthread library([&] { slot.changeHandler()(); });
    entered.get_future().wait();
    std::atomic<bool> cleared{false};
    std::jthread owner([&] {
        slot.setChangeHandler({});
        cleared = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(cleared) << "the target was taken away under the running call";
    release.set_value();
    owner.join();
    library.join();
    EXPECT_TRUE(callEnded);
    slot.changeHandler()();
    EXPECT_EQ(ownRetargets, 0) << "cleared after the call's own re-targeting";
}

} // namespace
} // namespace qx
