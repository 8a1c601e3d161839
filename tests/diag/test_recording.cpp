#include "diag/TrafficRecorder.h"
#include "diag/TrafficRecording.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace qx {
namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::array<uint8_t, 65> reportOf(uint8_t fill) {
    std::array<uint8_t, 65> r{};
    r.fill(fill);
    r[0] = 1;
    return r;
}

struct RecorderTest : ::testing::Test {
    QTemporaryDir dir;
    TrafficRecorder recorder;
    std::string path = dir.filePath(QStringLiteral("traffic.txt")).toStdString();
    RecordingHeader header{"0.1.0", "QX-77ZT, serial QX7700000042, version 1.2"};
};

TEST_F(RecorderTest, WhatIsRecordedParsesBackInOrder) {
    ASSERT_EQ(recorder.start(path, header), "");
    recorder.sent(reportOf(0x11));
    recorder.received(reportOf(0x22));
    recorder.refused(reportOf(0x33));
    recorder.stop();
    recorder.received(reportOf(0x44)); // after the stop: not recorded

    const ParsedRecording parsed = parseRecording(readAll(path));
    ASSERT_TRUE(parsed.recording) << parsed.error;
    const Recording& rec = *parsed.recording;
    EXPECT_EQ(rec.header.program, "0.1.0");
    EXPECT_EQ(rec.header.unit, header.unit);
    EXPECT_FALSE(rec.stoppedAtLimit);
    ASSERT_EQ(rec.reports.size(), 3u);
    EXPECT_EQ(rec.reports[0].direction, TrafficDirection::Sent);
    EXPECT_EQ(rec.reports[1].direction, TrafficDirection::Received);
    EXPECT_EQ(rec.reports[2].direction, TrafficDirection::Refused);
    EXPECT_EQ(rec.reports[1].bytes, reportOf(0x22));
    EXPECT_LE(rec.reports[0].micros, rec.reports[2].micros);
    EXPECT_EQ(recorder.state().reports, 3u);
}

// The file never grows past its bound, and says that it stopped there.
TEST_F(RecorderTest, StopsAtItsBoundAndSaysSo) {
    const uint64_t limit = 1000; // the header and a few report lines
    ASSERT_EQ(recorder.start(path, header, limit), "");
    for (int i = 0; i < 50; ++i) {
        recorder.received(reportOf(static_cast<uint8_t>(i)));
    }
    const TrafficRecorder::State s = recorder.state();
    EXPECT_FALSE(s.recording);
    EXPECT_TRUE(s.stoppedAtLimit);
    const std::string text = readAll(path);
    EXPECT_LE(text.size(), limit);
    EXPECT_EQ(text.size(), s.bytes);
    const ParsedRecording parsed = parseRecording(text);
    ASSERT_TRUE(parsed.recording) << parsed.error;
    EXPECT_TRUE(parsed.recording->stoppedAtLimit);
    EXPECT_EQ(parsed.recording->reports.size(), s.reports);
    EXPECT_GT(s.reports, 0u);

    // A new recording starts afresh.
    ASSERT_EQ(recorder.start(path, header, limit), "");
    EXPECT_FALSE(recorder.state().stoppedAtLimit);
    EXPECT_EQ(recorder.state().reports, 0u);
}

TEST_F(RecorderTest, AFolderThatIsNotThereIsRefused) {
    const std::string error =
        recorder.start(dir.filePath(QStringLiteral("none/traffic.txt")).toStdString(), header);
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    EXPECT_FALSE(recorder.state().recording);
}

// The reader thread, the worker and the window use the recorder at once.
TEST_F(RecorderTest, ThreadsRecordingWhileTheWindowStartsAndStops) {
    std::atomic<bool> done{false};
    auto traffic = [&](bool sending) {
        while (!done) {
            if (sending) {
                recorder.sent(reportOf(1));
            } else {
                recorder.received(reportOf(2));
            }
        }
    };
    std::thread a(traffic, true), b(traffic, false);
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(recorder.start(path, header, 20000), "");
        (void)recorder.state();
        recorder.stop();
    }
    done = true;
    a.join();
    b.join();
    EXPECT_TRUE(parseRecording(readAll(path)).recording);
}

TEST(RecordingFormat, RefusesWhatDoesNotFollowTheFormat) {
    const std::string head = "QX-77ZT traffic recording 1\nprogram: 0.1.0\nunit: x\n";
    const std::string hex(130, '0');
    struct Case {
        const char* name;
        std::string text;
        std::string error; // empty: accepted
    };
    const Case cases[] = {
        {"header alone", head, ""},
        {"one report", head + "5 < " + hex + "\n", ""},
        {"empty file", "", "the header is incomplete"},
        {"other magic", "QX-77ZT traffic recording 2\n", "line 1: not a traffic recording"},
        {"no program line", "QX-77ZT traffic recording 1\nunit: x\n", "line 2: the program"},
        {"cut short", head + "5 < " + hex, "line 4: the last line has no end"},
        {"short report", head + "5 < " + hex.substr(2) + "\n", "line 4: not a report line"},
        {"upper-case hex", head + "5 < " + std::string(130, 'A') + "\n", "line 4: not a report"},
        {"unknown direction", head + "5 ? " + hex + "\n", "line 4: not a report line"},
        {"no time", head + " < " + hex + "\n", "line 4: not a report line"},
        {"negative time", head + "-5 < " + hex + "\n", "line 4: not a report line"},
        {"time overflow", head + "99999999999999999999 < " + hex + "\n", "line 4: not a report"},
        {"time goes back", head + "9 < " + hex + "\n3 > " + hex + "\n", "line 5: the time goes"},
        {"after the limit line", head + "stopped: size limit of 9 bytes reached\n5 < " + hex + "\n",
         "line 5: a line after"},
    };
    for (const Case& c : cases) {
        const ParsedRecording p = parseRecording(c.text);
        if (c.error.empty()) {
            EXPECT_TRUE(p.recording) << c.name << ": " << p.error;
        } else {
            EXPECT_FALSE(p.recording) << c.name;
            EXPECT_EQ(p.error.rfind(c.error, 0), 0u) << c.name << ": " << p.error;
        }
    }
}

} // namespace
} // namespace qx
