// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the demo program on the offscreen platform with one, two and four virtual units, waits
// until every unit's link is up and polling, and measures the processor time the whole process
// takes over ten seconds, and how often each of its threads wakes up (voluntary context switches:
// a thread going to sleep to be woken again). Four units should cost no more than four times one.
#include "bench/common/TaskStats.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using qx::bench::SpanFigures;
using qx::bench::SpanMeter;
using qx::bench::threadsNamed;

// range(0): the virtual units the demo program starts with.
void BM_DemoProgramCpuWhilePolling(benchmark::State& state) {
    const int units = static_cast<int>(state.range(0));
    char runtimeTemplate[] = "/tmp/qx-bench-XXXXXX";
    const char* runtime = ::mkdtemp(runtimeTemplate);
    if (runtime == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    // A folder of its own for the single-instance lock and socket: a copy already running for
    // this user would otherwise be raised and this one would leave at once.
    ::setenv("QX77ZT_RUNTIME_DIR", runtime, 1);
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    ::setenv("TMPDIR", runtime, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // QX_BENCH_PROGRAM: another build of the demo program, to compare with.
    const char* const chosen = std::getenv("QX_BENCH_PROGRAM");
    const char* const program = chosen != nullptr && *chosen != '\0' ? chosen : QX_DEMO_PROGRAM;
    std::string unitsOption = "--units";
    std::string unitsText = std::to_string(units);
    char* argv[] = {const_cast<char*>(program), unitsOption.data(), unitsText.data(), nullptr};
    // What the program writes to its error output is kept aside and counted: a warning per
    // redraw would otherwise fill the benchmark's own output, and is a cost worth seeing.
    const std::string errorFile = std::string(runtime) + "/stderr.txt";
    posix_spawn_file_actions_t files;
    ::posix_spawn_file_actions_init(&files);
    ::posix_spawn_file_actions_addopen(&files, STDERR_FILENO, errorFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program, &files, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        state.SkipWithError("the demo program did not start");
        return;
    }
    // A link worker per unit and a library reader per copy (the units' and the scanner's) run
    // once the program has connected every unit; a second more lets start-up work settle.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    auto connected = [pid, units] {
        return threadsNamed(pid, "qx-link") >= units && threadsNamed(pid, "hid-reader") >= units;
    };
    while (!connected() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(1s);
    if (!connected()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        fs::remove_all(runtime);
        state.SkipWithError("the demo program did not connect");
        return;
    }

    constexpr auto kSpan = 10s;
    double seconds = std::chrono::duration<double>(kSpan).count();
    SpanFigures figures;
    const auto errorLines = [&errorFile] {
        std::ifstream in(errorFile);
        long long n = 0;
        for (std::string line; std::getline(in, line);) {
            ++n;
        }
        return n;
    };
    long long lines = 0;
    for (auto _ : state) {
        const long long linesBefore = errorLines();
        const SpanMeter meter(pid);
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kSpan);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        figures = meter.finish(seconds);
        lines = errorLines() - linesBefore;
    }
    state.counters["stderr_lines_per_s"] = static_cast<double>(lines) / seconds;
    state.counters["cpu_ms_per_10s"] = figures.cpuPercent * 100.0; // over ten seconds
    state.counters["cpu_percent"] = figures.cpuPercent;
    // The same, to the microsecond, of the threads that lived through the span.
    if (figures.cpuPercentFine >= 0) {
        state.counters["cpu_percent_fine"] = figures.cpuPercentFine;
    }
    for (const auto& [name, rate] : figures.wakeUpsPerSecondByThread) {
        state.counters["wakeups_per_s_" + name] = rate;
    }
    state.counters["wakeups_per_s_all"] = figures.wakeUpsPerSecond;
    state.counters["forced_switches_per_s"] = figures.forcedPerSecond;

    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    fs::remove_all(runtime);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        state.SkipWithError("the demo program did not end cleanly");
}
BENCHMARK(BM_DemoProgramCpuWhilePolling)
    ->ArgName("units")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
