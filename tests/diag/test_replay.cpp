// SPDX-License-Identifier: GPL-3.0-or-later
// Replays recordings: the unit's input reports go through the link's receiver as the library's
// reader would deliver them, and what they leave in the records and answers is checked against
// what the recording's own requests asked for.
#include "diag/TrafficRecording.h"
#include "link/LinkFrame.h"
#include "link/Transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace qx {
namespace {

struct Answers : AnswerSink {
    std::vector<std::string> events;
    void finishAnswer(bool success) override { events.push_back(success ? "ok" : "failed"); }
    void resetAnswer() override { events.push_back("reset"); }
};

// What the replay produced.
struct Replay {
    std::vector<uint8_t> requestCommands; // commands of the recording's own output frames
    LinkCountersSnapshot counters;
    DeviceSettings settings;
    DeviceStatus status;
    std::vector<std::string> answers;
};

// Joins pieces into frames as the unit does: a piece whose offset reaches the total ends one.
std::vector<std::vector<uint8_t>> framesOf(const std::vector<RecordedReport>& reports,
                                           TrafficDirection direction) {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint8_t> buffer;
    for (const RecordedReport& r : reports) {
        if (r.direction != direction) {
            continue;
        }
        const std::size_t offset = std::size_t{r.bytes[1]} << 8 | r.bytes[2];
        const std::size_t total = std::size_t{r.bytes[3]} << 8 | r.bytes[4];
        buffer.resize(std::max(buffer.size(), offset + kPieceSize));
        std::memcpy(buffer.data() + offset, &r.bytes[5], kPieceSize);
        if (offset + kPieceSize >= total) {
            frames.push_back(buffer);
            buffer.clear();
        }
    }
    return frames;
}

Replay replay(const Recording& rec) {
    Replay out;
    for (const auto& f : framesOf(rec.reports, TrafficDirection::Sent)) {
        const auto frame = checkFrame(f);
        EXPECT_TRUE(frame) << "a request of the recording does not check";
        if (frame) {
            out.requestCommands.push_back(frame->command);
        }
    }
    LinkState link;
    Answers answers;
    Receiver receiver(link, &answers);
    for (const RecordedReport& r : rec.reports) {
        if (r.direction == TrafficDirection::Received) {
            THIDreport report;
            std::memcpy(&report, r.bytes.data(), sizeof report);
            receiver.onInputReport(report, 64);
        }
    }
    out.counters = link.counters.snapshot();
    out.settings = link.settings();
    out.status = link.status();
    out.answers = answers.events;
    return out;
}

Recording load(const std::string& name) {
    std::ifstream in(std::string(QX_REPLAY_DATA) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ParsedRecording parsed = parseRecording(text.str());
    EXPECT_TRUE(parsed.recording) << name << ": " << parsed.error;
    return parsed.recording.value_or(Recording{});
}

std::size_t count(const std::vector<uint8_t>& v, uint8_t c) {
    return static_cast<std::size_t>(std::count(v.begin(), v.end(), c));
}

TEST(Replay, StatusPollingWithASettingsWrite) {
    const Recording rec = load("status-settings.txt");
    EXPECT_EQ(rec.header.unit, "QX-77ZT, serial QX7700000042, version 1.2");
    const Replay r = replay(rec);
    EXPECT_EQ(count(r.requestCommands, cmd::kStatus), 5u);
    EXPECT_EQ(count(r.requestCommands, cmd::kSettingsWrite), 1u);
    // Every answer checks; the last poll's answer came after the recording ended.
    EXPECT_EQ(r.counters.crcFailures, 0u);
    EXPECT_EQ(r.counters.lengthFailures, 0u);
    EXPECT_EQ(r.counters.answersReceived, r.requestCommands.size() - 1);
    // The records hold what the unit last said: the written settings, the steady tone.
    EXPECT_EQ(r.settings.preset, 2);
    EXPECT_EQ(r.settings.gainLeft, -9);
    EXPECT_EQ(r.settings.muteOn, 1);
    EXPECT_EQ(r.status.levelLeft, 0);
    EXPECT_EQ(r.status.levelRight, -2);
    EXPECT_TRUE(r.answers.empty());
}

TEST(Replay, AShortUpdate) {
    const Recording rec = load("short-update.txt");
    EXPECT_EQ(rec.header.unit, "QX-77ZT (boot), serial QX7700000042, version 1.2");
    const Replay r = replay(rec);
    // Six flash blocks (each erased first), two EEPROM blocks, then the finish request.
    EXPECT_EQ(count(r.requestCommands, cmd::kErase), 6u);
    EXPECT_EQ(count(r.requestCommands, cmd::kWriteFlash), 6u);
    EXPECT_EQ(count(r.requestCommands, cmd::kWriteEeprom), 2u);
    ASSERT_FALSE(r.requestCommands.empty());
    EXPECT_EQ(r.requestCommands.back(), cmd::kFinish);
    EXPECT_EQ(r.counters.crcFailures, 0u);
    EXPECT_EQ(r.counters.lengthFailures, 0u);
    EXPECT_EQ(r.answers, std::vector<std::string>{"ok"}) << "the unit's verdict, once";
}

// A recording damaged in transit: the replay counts the damage instead of storing it.
TEST(Replay, AFlippedBitIsCountedNotStored) {
    Recording rec = load("status-settings.txt");
    const Replay clean = replay(rec);
    for (RecordedReport& r : rec.reports) {
        if (r.direction == TrafficDirection::Received) {
            r.bytes[5 + 3 + 9] ^= 0x01; // the mute byte of every answer
        }
    }
    const Replay damaged = replay(rec);
    EXPECT_EQ(damaged.counters.crcFailures, clean.counters.answersReceived);
    EXPECT_EQ(damaged.counters.answersReceived, 0u);
    EXPECT_EQ(damaged.settings, DeviceSettings{});
}

} // namespace
} // namespace qx
