// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor beside the window program, each over one and four of the demo's virtual units,
// connected and polling: resident memory (VmRSS, and its peak VmHWM) and processor use over a
// span (QX_BENCH_SECONDS, 10 s by default). The window program runs on the offscreen platform,
// so its figures leave out a display server's share.
#include "bench/common/TaskStats.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

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

// Seconds each span measures: QX_BENCH_SECONDS, or `fallback`.
double spanSeconds(double fallback) {
    const char* text = std::getenv("QX_BENCH_SECONDS");
    const double chosen = text != nullptr ? std::atof(text) : 0.0;
    return chosen > 0 ? chosen : fallback;
}

// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
double statusKiB(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atof(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

// Runs `argv` in private runtime and state folders until every unit is connected, measures it
// over the span, and ends it with SIGTERM.
void measure(benchmark::State& state, std::vector<std::string> args, int units) {
    char runtimeTemplate[] = "/tmp/qx-bench-XXXXXX";
    const char* runtime = ::mkdtemp(runtimeTemplate);
    if (runtime == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    for (const char* name : {"QX77ZT_RUNTIME_DIR", "XDG_RUNTIME_DIR", "TMPDIR", "HOME"}) {
        ::setenv(name, runtime, 1);
    }
    ::unsetenv("XDG_STATE_HOME");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    ::posix_spawn_file_actions_init(&files);
    const std::string errorFile = std::string(runtime) + "/stderr.txt";
    ::posix_spawn_file_actions_addopen(&files, STDERR_FILENO, errorFile.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        fs::remove_all(runtime);
        state.SkipWithError("the program did not start");
        return;
    }
    // A link worker per unit and a library reader per copy; a second more lets start-up settle.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    const auto connected = [pid, units] {
        return threadsNamed(pid, "qx-link") >= units && threadsNamed(pid, "hid-reader") >= units;
    };
    while (!connected() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(1s);
    if (!connected()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        fs::remove_all(runtime);
        state.SkipWithError("the program did not connect its units");
        return;
    }
    const double span = spanSeconds(10.0);
    SpanFigures figures;
    double seconds = span;
    for (auto _ : state) {
        const SpanMeter meter(pid);
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(span));
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        figures = meter.finish(seconds);
    }
    state.counters["rss_kib"] = statusKiB(pid, "VmRSS");
    state.counters["rss_peak_kib"] = statusKiB(pid, "VmHWM");
    state.counters["cpu_percent"] = figures.cpuPercent;
    if (figures.cpuPercentFine >= 0) {
        state.counters["cpu_percent_fine"] = figures.cpuPercentFine;
    }
    state.counters["wakeups_per_s_all"] = figures.wakeUpsPerSecond;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    fs::remove_all(runtime);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        state.SkipWithError("the program did not end cleanly");
    }
}

// range(0): the virtual units.
void BM_MonitorWhilePolling(benchmark::State& state) {
    const int units = static_cast<int>(state.range(0));
    measure(state, {QX_DEMO_CLI_PROGRAM, "monitor", "--demo", "--units", std::to_string(units)},
            units);
}
void BM_WindowProgramWhilePolling(benchmark::State& state) {
    const int units = static_cast<int>(state.range(0));
    measure(state, {QX_DEMO_PROGRAM, "--units", std::to_string(units)}, units);
}

BENCHMARK(BM_MonitorWhilePolling)
    ->ArgName("units")
    ->Arg(1)
    ->Arg(4)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_WindowProgramWhilePolling)
    ->ArgName("units")
    ->Arg(1)
    ->Arg(4)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
