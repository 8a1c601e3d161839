// SPDX-License-Identifier: GPL-3.0-or-later
// The event log's costs: one line made and read back, lines appended and flushed to the disk,
// and a long log read back whole and through filters.
//
// The long log is made in a temporary folder at start: one summary per unit per minute plus a
// few events an hour, QX_BENCH_UNITS units (default 4) over QX_BENCH_DAYS days (default 31;
// 366 for a year, about 400 MB with four units). Its size and line count are printed, for the
// year's bound. The reads then come from the page cache: they measure the parsing, the part the
// program pays for on every read.
#include "eventlog/EventJson.h"
#include "eventlog/EventLog.h"
#include "eventlog/EventReader.h"
#include "eventlog/LogFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace std::chrono_literals;
namespace el = qx::eventlog;

int envInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

std::filesystem::path makeTempFolder() {
    std::string templ =
        (std::filesystem::temp_directory_path() / "qx-bench-events-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return templ;
}

qx::watch::Event summary(el::TimePoint t, int unit, int minute) {
    qx::watch::Event e;
    e.time = t;
    e.kind = qx::watch::kind::kSummary;
    e.serial = "QX77000000" + std::to_string(40 + unit);
    e.unit = "Studio " + std::string(1, static_cast<char>('A' + unit)) + " L/R";
    e.numbers = {{"peak.left", -12.5 - (minute % 30) * 0.5},
                 {"peak.right", -13.0 - (minute % 17) * 0.5},
                 {"overs", static_cast<double>(minute % 97 == 0)},
                 {"silence", static_cast<double>(minute % 240 == 0 ? 12 : 0)}};
    return e;
}

qx::watch::Event alarm(el::TimePoint t, int unit, bool raised) {
    qx::watch::Event e;
    e.time = t;
    e.kind = raised ? qx::watch::kind::kAlarmRaised : qx::watch::kind::kAlarmCleared;
    e.serial = "QX77000000" + std::to_string(40 + unit);
    e.unit = "Studio " + std::string(1, static_cast<char>('A' + unit)) + " L/R";
    e.texts = {{"alarm", "silence"}, {"state", raised ? "raised" : "cleared"}};
    e.numbers = {{"level", -50}};
    return e;
}

// The long log, made once.
struct LongLog {
    std::filesystem::path folder;
    int units = 0;
    int days = 0;
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;
    std::uint64_t summaryBytes = 0;
    std::uint64_t summaries = 0;
    el::TimePoint end;

    LongLog() {
        folder = makeTempFolder();
        units = envInt("QX_BENCH_UNITS", 4);
        days = envInt("QX_BENCH_DAYS", 31);
        const auto first = std::chrono::sys_days(std::chrono::year{2026} / 1 / 1);
        for (int d = 0; d < days; ++d) {
            const std::chrono::sys_days day = first + std::chrono::days(d);
            std::ofstream out(folder / el::dailyFileName(day), std::ios::binary);
            std::string block;
            for (int m = 0; m < 1440; ++m) {
                const el::TimePoint t = day + std::chrono::minutes(m);
                for (int u = 0; u < units; ++u) {
                    const std::string line = el::formatEventLine(summary(t, u, m)) + "\n";
                    summaryBytes += line.size();
                    ++summaries;
                    block += line;
                    ++lines;
                }
                // An alarm raised and cleared every two hours on one unit.
                if (m % 120 == 7) {
                    block += el::formatEventLine(alarm(t + 5s, m % units, true)) + "\n";
                    block += el::formatEventLine(alarm(t + 35s, m % units, false)) + "\n";
                    lines += 2;
                }
            }
            bytes += block.size();
            out << block;
        }
        end = first + std::chrono::days(days);
        std::printf("long log: %d units, %d days, %llu lines, %llu bytes (%.1f MB); summary "
                    "line %.0f bytes on average\n",
                    units, days, static_cast<unsigned long long>(lines),
                    static_cast<unsigned long long>(bytes), static_cast<double>(bytes) / 1e6,
                    static_cast<double>(summaryBytes) / static_cast<double>(summaries));
    }
    ~LongLog() { std::filesystem::remove_all(folder); }
};

LongLog& longLog() {
    static LongLog log;
    return log;
}

void BM_FormatLine(benchmark::State& state) {
    const qx::watch::Event e = summary(el::Clock::now(), 0, 3);
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string line = el::formatEventLine(e);
        size = line.size();
        benchmark::DoNotOptimize(line.data());
    }
    state.counters["line_bytes"] = static_cast<double>(size);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatLine);

void BM_ParseLine(benchmark::State& state) {
    const std::string line = el::formatEventLine(summary(el::Clock::now(), 0, 3));
    for (auto _ : state) {
        auto e = el::parseEventLine(line);
        benchmark::DoNotOptimize(e);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
}
BENCHMARK(BM_ParseLine);

// Lines made durable: arg 1 waits for each line on the disk before the next (the steady case:
// a few lines a minute); arg 1000 records a burst and waits once (lines flushed together).
void BM_AppendDurable(benchmark::State& state) {
    const auto burst = static_cast<int>(state.range(0));
    const std::filesystem::path folder = makeTempFolder();
    std::uint64_t lines = 0;
    {
        el::EventLog log(folder / "events");
        log.flush();
        const el::TimePoint t = el::Clock::now();
        int m = 0;
        for (auto _ : state) {
            for (int i = 0; i < burst; ++i) {
                log.record(summary(t, i % 4, ++m));
            }
            log.flush();
            lines += static_cast<std::uint64_t>(burst);
        }
        if (log.counts().dropped > 0) {
            state.SkipWithError("lines were dropped");
        }
    }
    std::filesystem::remove_all(folder);
    state.SetItemsProcessed(static_cast<std::int64_t>(lines));
}
BENCHMARK(BM_AppendDurable)->Arg(1)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

// What record() costs the calling thread: the line made and queued, no waiting.
void BM_RecordCall(benchmark::State& state) {
    const std::filesystem::path folder = makeTempFolder();
    {
        el::EventLogOptions options;
        options.maxQueuedLines = 1u << 30;
        el::EventLog log(folder / "events", options);
        const qx::watch::Event e = summary(el::Clock::now(), 0, 3);
        for (auto _ : state) {
            log.record(e);
        }
        state.SetItemsProcessed(state.iterations());
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_RecordCall)->Iterations(20000);

// The long log read through a filter: 0 everything, 1 one unit, 2 alarms only, 3 the last day,
// 4 the last hour.
void BM_ReadLongLog(benchmark::State& state) {
    LongLog& log = longLog();
    el::EventFilter filter;
    switch (state.range(0)) {
    case 1:
        filter.unit = "studio b l/r";
        break;
    case 2:
        filter.kinds = {std::string(qx::watch::kind::kAlarmRaised),
                        std::string(qx::watch::kind::kAlarmCleared)};
        break;
    case 3:
        filter.since = log.end - 24h;
        break;
    case 4:
        filter.since = log.end - 1h;
        break;
    default:
        break;
    }
    const el::EventReader reader(log.folder);
    el::ReadSummary summary;
    for (auto _ : state) {
        summary = reader.read(filter, [](const qx::watch::Event& e, std::string_view) {
            benchmark::DoNotOptimize(&e);
            return true;
        });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(summary.bytes) * state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(summary.lines) * state.iterations());
    state.counters["matched"] = static_cast<double>(summary.matched);
    state.counters["files"] = static_cast<double>(summary.files);
}
BENCHMARK(BM_ReadLongLog)
    ->DenseRange(0, 4)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Cleaning up a full folder of a year's files (names only; sizes small).
void BM_PruneYear(benchmark::State& state) {
    const std::filesystem::path folder = makeTempFolder();
    const auto today = std::chrono::sys_days(std::chrono::year{2026} / 12 / 11);
    for (int d = 0; d < 366; ++d) {
        std::ofstream(folder / el::dailyFileName(today - std::chrono::days(d))) << "{}\n";
    }
    for (auto _ : state) {
        const el::Pruned p = el::pruneDailyFiles(folder, today, {}, {});
        benchmark::DoNotOptimize(p.bytesLeft);
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PruneYear)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
