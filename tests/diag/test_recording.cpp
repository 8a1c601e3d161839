// SPDX-License-Identifier: GPL-3.0-or-later
#include "diag/TrafficRecorder.h"
#include "diag/TrafficRecording.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx {
namespace {

using namespace std::chrono_literals;

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
    ASSERT_TRUE(recorder.waitWritten(10s));

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
    ASSERT_TRUE(recorder.waitWritten(10s));
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
    ASSERT_TRUE(recorder.waitWritten(10s));
    EXPECT_TRUE(parseRecording(readAll(path)).recording);
}

// A name the operator picks may be anything. Only a regular file is recorded into, and the
// refusal comes at once: a named pipe used to block the window until someone read it, and a
// device was written to.
TEST_F(RecorderTest, WhatIsNotARegularFileIsRefusedAtOnce) {
    const std::string fifo = dir.filePath(QStringLiteral("fifo")).toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.path().toStdString();
    struct Case {
        const char* name;
        std::string path;
    };
    for (const Case& c : {Case{"a named pipe", fifo}, Case{"a folder", folder},
                          Case{"a character device", "/dev/null"}}) {
        SCOPED_TRACE(c.name);
        auto started =
            std::async(std::launch::async, [&] { return recorder.start(c.path, header); });
        if (started.wait_for(5s) != std::future_status::ready) {
            ADD_FAILURE() << "start() still waits on the name";
            // Lets a start() blocked in opening the pipe go on, so that the test can end.
            const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            started.wait();
            recorder.stop();
            ASSERT_TRUE(recorder.waitWritten(10s));
            ::close(reader);
            continue;
        }
        const std::string error = started.get();
        EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
        EXPECT_FALSE(recorder.state().recording);
    }
}

// A recording holds the unit's serial number and every firmware block: its owner's alone,
// whatever the umask, and also when it replaces an earlier file that others could read.
TEST_F(RecorderTest, TheFileIsReadableByItsOwnerAlone) {
    const mode_t umaskBefore = ::umask(022);
    for (const bool existed : {false, true}) {
        SCOPED_TRACE(existed ? "replacing a file of mode 0644" : "a new file");
        ::unlink(path.c_str());
        if (existed) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
        ASSERT_EQ(recorder.start(path, header), "");
        recorder.stop();
        ASSERT_TRUE(recorder.waitWritten(10s));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    ::umask(umaskBefore);
}

// A medium that stops taking bytes (a stick being pulled, a share that hangs) while the link
// goes on: the link's threads never wait for it, the queue stays within its bound, and the
// reports it had no room for are counted and said in the file where they are missing.
TEST(RecorderOnASlowMedium, TheLinkGoesOnAndWhatDidNotFitIsSaid) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("traffic.txt")).toStdString();
    std::mutex m;
    std::condition_variable cv;
    bool stuck = true;
    int writesBegun = 0;
    const auto medium = [&](int fd, std::string_view bytes) {
        {
            std::unique_lock lock(m);
            ++writesBegun;
            cv.notify_all();
            cv.wait(lock, [&] { return !stuck; });
        }
        return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    };
    constexpr std::size_t kQueue = 4;
    TrafficRecorder recorder(kQueue, medium);
    ASSERT_EQ(recorder.start(path, {"0.1.0", "QX-77ZT"}), "");
    {
        // The recorder's thread is now stuck writing the header.
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return writesBegun == 1; }));
    }
    // The link's thread: every call returns while the medium is stuck.
    std::thread link([&] {
        for (int i = 0; i < 10; ++i) {
            recorder.received(reportOf(static_cast<uint8_t>(i)));
        }
    });
    link.join();
    EXPECT_EQ(recorder.state().dropped, 10u - kQueue);
    {
        std::lock_guard lock(m);
        stuck = false;
    }
    cv.notify_all();
    ASSERT_TRUE(recorder.waitWritten(10s));
    recorder.sent(reportOf(0x55));
    recorder.stop();
    ASSERT_TRUE(recorder.waitWritten(10s));

    const std::string text = readAll(path);
    const ParsedRecording parsed = parseRecording(text);
    ASSERT_TRUE(parsed.recording) << parsed.error;
    EXPECT_EQ(parsed.recording->reports.size(), kQueue + 1);
    EXPECT_EQ(parsed.recording->dropped, 10u - kQueue);
    // Said where the gap is: after the reports that fitted, before the next one.
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3 + kQueue + 2);
    EXPECT_EQ(lines[3 + kQueue] + "\n", formatDroppedLine(10 - kQueue));
    const TrafficRecorder::State s = recorder.state();
    EXPECT_EQ(s.reports, kQueue + 1);
    EXPECT_EQ(s.dropped, 10u - kQueue);
    EXPECT_EQ(s.bytes, text.size());
    EXPECT_FALSE(s.writing);
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
        {"dropped reports", head + "5 < " + hex + "\ndropped: 7 reports\n9 < " + hex + "\n", ""},
        {"dropped at the end", head + "dropped: 18446744073709551615 reports\n", ""},
        {"dropped nothing", head + "dropped: 0 reports\n", "line 4: not a count of dropped"},
        {"dropped, no count", head + "dropped:  reports\n", "line 4: not a count of dropped"},
        {"dropped, other words", head + "dropped: 7 lines\n", "line 4: not a count of dropped"},
        {"dropped past counting",
         head + "dropped: 18446744073709551615 reports\ndropped: 1 reports\n",
         "line 5: more reports dropped than"},
        {"dropped after the limit line",
         head + "stopped: size limit of 9 bytes reached\ndropped: 1 reports\n",
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
