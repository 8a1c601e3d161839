// SPDX-License-Identifier: GPL-3.0-or-later
// The event log on the disk: what it writes reads back, a torn line costs only itself, the
// bounds hold, and trouble is told once without stopping anything.
#include "LogFixture.h"
#include "eventlog/EventJson.h"
#include "eventlog/EventLog.h"
#include "eventlog/EventReader.h"
#include "eventlog/LogFiles.h"

#include <mutex>
#include <thread>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qx::eventlog::test {
namespace {

// What the log tells through its callback, from its own thread.
struct Problems {
    std::mutex mutex;
    std::vector<std::string> told;
    std::function<void(const std::string&)> callback() {
        return [this](const std::string& p) {
            std::lock_guard lock(mutex);
            told.push_back(p);
        };
    }
    std::vector<std::string> all() {
        std::lock_guard lock(mutex);
        return told;
    }
};

class EventLogTest : public LogFolderTest {
protected:
    EventLogOptions options(LogLimits limits = {}) {
        EventLogOptions o;
        o.limits = limits;
        o.onError = problems.callback();
        o.now = [] { return someTime(); };
        return o;
    }
    std::vector<watch::Event> readAll(ReadSummary* summary = nullptr,
                                      const EventFilter& filter = {}) const {
        std::vector<watch::Event> events;
        const ReadSummary s = EventReader(folder).read(filter, [&](const watch::Event& e, auto) {
            events.push_back(e);
            return true;
        });
        if (summary != nullptr) {
            *summary = s;
        }
        return events;
    }

    Problems problems;
};

TEST_F(EventLogTest, WritesEachEventAsOneLineOfItsUtcDayAndReadsThemBack) {
    std::vector<watch::Event> written;
    {
        EventLog log(folder, options());
        for (int i = 0; i < 5; ++i) {
            watch::Event e = makeEvent(someTime() + std::chrono::hours(10 * i), "over");
            e.texts = {{"channel", i % 2 ? "left" : "right"}};
            e.numbers = {{"n", i}};
            log.record(e);
            written.push_back(e);
        }
        log.flush();
        EXPECT_EQ(log.counts().written, 5u);
    }
    // 03:12, 13:12 and 23:12 on the 11th, 09:12 and 19:12 on the 12th.
    EXPECT_EQ(fileNames(),
              (std::vector<std::string>{"events-2026-12-11.jsonl", "events-2026-12-12.jsonl"}));
    EXPECT_EQ(read(dayFile(someDay())), formatEventLine(written[0]) + "\n" +
                                            formatEventLine(written[1]) + "\n" +
                                            formatEventLine(written[2]) + "\n");
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(dayFile(someDay()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ReadSummary summary;
    const std::vector<watch::Event> back = readAll(&summary);
    ASSERT_EQ(back.size(), written.size());
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].time, written[i].time);
        EXPECT_EQ(back[i].texts, written[i].texts);
        EXPECT_EQ(back[i].numbers, written[i].numbers);
    }
    EXPECT_EQ(summary.damaged + summary.torn, 0u);
    EXPECT_TRUE(problems.all().empty());
}

TEST_F(EventLogTest, ATornLastLineIsSkippedAndEveryLineBeforeItRead) {
    {
        EventLog log(folder, options());
        for (int i = 0; i < 3; ++i) {
            log.record(makeEvent(someTime() + std::chrono::seconds(i), "over"));
        }
    }
    // A power cut while the fourth line was written: half of it is there.
    const std::string torn = formatEventLine(makeEvent(someTime() + 3s, "over-ack"));
    write(dayFile(someDay()), read(dayFile(someDay())) + torn.substr(0, torn.size() / 2));

    ReadSummary summary;
    std::vector<watch::Event> back = readAll(&summary);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[2].time, someTime() + 2s);
    EXPECT_EQ(summary.torn, 1u);
    EXPECT_EQ(summary.damaged, 0u);

    // The next start writes on a line of its own: only the torn line is lost.
    {
        EventLog log(folder, options());
        log.record(makeEvent(someTime() + 4s, "connected"));
    }
    back = readAll(&summary);
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[3].kind, "connected");
    EXPECT_EQ(summary.torn, 0u);
    EXPECT_EQ(summary.damaged, 1u);
}

TEST_F(EventLogTest, DamagedAndOverlongLinesAreSkippedAndCounted) {
    const std::string good = formatEventLine(makeEvent(someTime(), "over"));
    write(dayFile(someDay()), good + "\n" + "garbage\n" + std::string(3 * kMaxLineBytes, 'x') +
                                  "\n\n" + good.substr(0, 20) + "\xff\n" + good + "\n");
    ReadSummary summary;
    EXPECT_EQ(readAll(&summary).size(), 2u);
    EXPECT_EQ(summary.damaged, 4u);
    EXPECT_EQ(summary.torn, 0u);
}

TEST_F(EventLogTest, OldDaysGoPastTheDayBoundAtStartAndWhenTheDayChanges) {
    const std::chrono::sys_days day = someDay();
    for (int back : {0, 1, 2, 3, 4, 10, 400}) {
        write(dayFile(day - std::chrono::days(back)), "{}\n");
    }
    write(folder / "notes.txt", "not the log's");
    write(folder / "events-2026-12-11.jsonl.damaged", "not the log's either");
    {
        EventLog log(folder, options({.maxDays = 3, .maxBytes = 1 << 20}));
        log.flush();
        log.record(makeEvent(someTime(), "over"));
        log.flush();
        EXPECT_EQ(fileNames(),
                  (std::vector<std::string>{"events-2026-12-09.jsonl", "events-2026-12-10.jsonl",
                                            "events-2026-12-11.jsonl",
                                            "events-2026-12-11.jsonl.damaged", "notes.txt"}));
        // Two days on: the day change cleans up again.
        log.record(makeEvent(someTime() + std::chrono::days(2), "over"));
        log.flush();
    }
    EXPECT_EQ(fileNames(), (std::vector<std::string>{"events-2026-12-11.jsonl",
                                                     "events-2026-12-11.jsonl.damaged",
                                                     "events-2026-12-13.jsonl", "notes.txt"}));
    EXPECT_TRUE(problems.all().empty());
}

TEST_F(EventLogTest, OldestDaysGoPastTheSizeBoundAndTodaysFileIsKept) {
    const std::chrono::sys_days day = someDay();
    for (int back = 1; back <= 5; ++back) {
        write(dayFile(day - std::chrono::days(back)), std::string(999, 'x') + "\n");
    }
    // 5000 bytes of old days; 3500 allowed: the two oldest go, at start.
    {
        EventLog log(folder, options({.maxDays = 366, .maxBytes = 3500}));
        log.flush();
        EXPECT_EQ(fileNames(),
                  (std::vector<std::string>{"events-2026-12-08.jsonl", "events-2026-12-09.jsonl",
                                            "events-2026-12-10.jsonl"}));
        // Today's lines push the total over: the oldest day goes, not today.
        watch::Event big = makeEvent(someTime(), "setting");
        big.texts = {{"value", std::string(600, 'v')}};
        log.record(big);
        log.record(big);
        log.flush();
        EXPECT_EQ(log.counts().written, 2u);
    }
    EXPECT_EQ(fileNames(),
              (std::vector<std::string>{"events-2026-12-09.jsonl", "events-2026-12-10.jsonl",
                                        "events-2026-12-11.jsonl"}));
    std::uint64_t total = 0;
    for (const DailyFile& f : listDailyFiles(folder)) {
        total += f.size;
    }
    EXPECT_LE(total, 3500u);
}

TEST_F(EventLogTest, TodaysFileAloneAtTheSizeBoundTakesNoMoreAndThatIsToldOnce) {
    watch::Event big = makeEvent(someTime(), "setting");
    big.texts = {{"value", std::string(300, 'v')}};
    const std::size_t lineSize = formatEventLine(big).size() + 1;
    {
        EventLog log(folder, options({.maxDays = 366, .maxBytes = 3 * lineSize + 10}));
        for (int i = 0; i < 6; ++i) {
            log.record(big);
        }
        log.flush();
        EXPECT_EQ(log.counts().written, 3u);
        EXPECT_EQ(log.counts().dropped, 3u);
        // The next day starts afresh.
        big.time += std::chrono::days(1);
        log.record(big);
        log.flush();
        EXPECT_EQ(log.counts().written, 4u);
    }
    EXPECT_EQ(problems.all().size(), 1u);
    EXPECT_NE(problems.all().front().find("size limit"), std::string::npos);
    EXPECT_EQ(fileNames(), (std::vector<std::string>{"events-2026-12-12.jsonl"}));
}

TEST_F(EventLogTest, ALinkOrAPipeUnderADailyFilesNameIsNotWritten) {
    std::filesystem::create_directories(folder);
    write(root / "elsewhere", "");
    std::filesystem::create_symlink(root / "elsewhere", dayFile(someDay()));
    ASSERT_EQ(::mkfifo(dayFile(someDay() + std::chrono::days(1)).c_str(), 0600), 0);
    {
        EventLog log(folder, options());
        log.record(makeEvent(someTime(), "over"));
        log.record(makeEvent(someTime(), "over"));
        log.record(makeEvent(someTime() + std::chrono::days(1), "over"));
        log.flush();
        EXPECT_EQ(log.counts().written, 0u);
        EXPECT_EQ(log.counts().dropped, 3u);
        // A regular file later: written again.
        log.record(makeEvent(someTime() + std::chrono::days(2), "over"));
        log.flush();
        EXPECT_EQ(log.counts().written, 1u);
    }
    EXPECT_EQ(read(root / "elsewhere"), "");
    const std::vector<std::string> told = problems.all();
    ASSERT_EQ(told.size(), 1u); // once, not per line
    EXPECT_NE(told.front().find("symbolic link"), std::string::npos);
    // Nor does the reader follow the link.
    write(root / "elsewhere", formatEventLine(makeEvent(someTime(), "over")) + "\n");
    EXPECT_EQ(readAll().size(), 1u);
}

TEST_F(EventLogTest, AFolderThatCannotBeMadeIsToldOnceAndRecordGoesOn) {
    write(root / "blocker", "x");
    folder = root / "blocker" / "events";
    {
        EventLog log(folder, options());
        for (int i = 0; i < 3; ++i) {
            log.record(makeEvent(someTime(), "over"));
        }
        log.flush();
        EXPECT_EQ(log.counts().dropped, 3u);
    }
    const std::vector<std::string> told = problems.all();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told.front().find("blocker"), std::string::npos);
}

TEST_F(EventLogTest, AFullDiskCutsALineToldOnceAndTheNextLinesStartAfresh) {
    // A file size limit stands in for a full disk: a write past it is cut short, the next one
    // fails. Run in a child process, whose limit ends with it.
    const watch::Event e = makeEvent(someTime(), "over");
    const std::size_t line = formatEventLine(e).size() + 1;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{line + line / 2, RLIM_INFINITY};
        int status = 0;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(10);
        }
        {
            EventLog log(folder, options());
            for (int i = 0; i < 3; ++i) {
                log.record(e);
            }
            log.flush();
            if (log.counts().written != 1 || log.counts().dropped != 2) {
                status = 11;
            }
            // Room again.
            limit.rlim_cur = RLIM_INFINITY;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            log.record(e);
            log.flush();
            if (log.counts().written != 2) {
                status = 12;
            }
        }
        const std::vector<std::string> told = problems.all();
        if (told.size() != 1 || told.front().find("disk is full") == std::string::npos) {
            status = 13;
        }
        ::_exit(status);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The first line and the one after the disk had room again; the cut line between them is
    // one damaged line, not the end of the next.
    ReadSummary summary;
    EXPECT_EQ(readAll(&summary).size(), 2u);
    EXPECT_EQ(summary.damaged, 1u);
    EXPECT_EQ(summary.torn, 0u);
}

TEST_F(EventLogTest, AFullQueueDropsLinesAndSaysSo) {
    EventLogOptions o = options();
    o.maxQueuedLines = 0; // nothing fits: every line is refused at once
    {
        EventLog log(folder, o);
        log.record(makeEvent(someTime(), "over"));
        log.record(makeEvent(someTime(), "over"));
        log.flush();
        EXPECT_EQ(log.counts().dropped, 2u);
    }
    const std::vector<std::string> told = problems.all();
    ASSERT_FALSE(told.empty());
    EXPECT_NE(told.front().find("not logged"), std::string::npos);
}

TEST_F(EventLogTest, ManyThreadsRecordWhileTheLogWritesAndNoLineIsLostOrMixed) {
    constexpr int kThreads = 4;
    constexpr int kEach = 300;
    {
        EventLog log(folder, options());
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&log, t] {
                for (int i = 0; i < kEach; ++i) {
                    watch::Event e = makeEvent(someTime(), "summary", "S" + std::to_string(t));
                    e.numbers = {{"i", i}};
                    log.record(e);
                    if (i % 100 == 0) {
                        log.flush();
                    }
                }
            });
        }
        for (std::thread& t : threads) {
            t.join();
        }
        // The rest is written by the destructor.
    }
    ReadSummary summary;
    const std::vector<watch::Event> back = readAll(&summary);
    ASSERT_EQ(back.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(summary.damaged + summary.torn, 0u);
    std::vector<int> next(kThreads, 0);
    for (const watch::Event& e : back) {
        const int t = std::stoi(e.serial.substr(1));
        EXPECT_EQ(e.numbers.front().second, next[t]++); // each thread's lines in its order
    }
}

TEST_F(EventLogTest, TwoLogsOnOneFolderKeepTheirLinesWhole) {
    // The window program and the monitor around a hand-over.
    {
        EventLog a(folder, options());
        EventLog b(folder, options());
        for (int i = 0; i < 200; ++i) {
            (i % 2 ? a : b).record(makeEvent(someTime(), i % 2 ? "over" : "over-ack"));
        }
    }
    ReadSummary summary;
    EXPECT_EQ(readAll(&summary).size(), 200u);
    EXPECT_EQ(summary.damaged + summary.torn, 0u);
}

} // namespace
} // namespace qx::eventlog::test
