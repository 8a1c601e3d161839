// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the demo program on the offscreen platform, waits until its link is up and polling the
// virtual unit, and measures the processor time the whole process takes over ten seconds, and
// how often each of its threads wakes up (voluntary context switches: a thread going to sleep to
// be woken again).
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// User plus system time of a process so far, in seconds.
double processCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Time on a processor so far, in seconds, summed over the threads there are now (the
// scheduler's count in nanoseconds; the clock ticks of /proc/PID/stat are 10 ms apart, too
// coarse for a program that runs half a millisecond a second). Negative when unavailable.
double threadsCpuSeconds(pid_t pid) {
    std::error_code error;
    unsigned long long ns = 0;
    bool any = false;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        unsigned long long onCpu = 0;
        if (schedstat >> onCpu) {
            ns += onCpu;
            any = true;
        }
    }
    return any ? static_cast<double>(ns) / 1e9 : -1;
}

// Voluntary context switches so far, summed by thread name.
std::map<std::string, long long> wakeUpsByThread(pid_t pid) {
    std::map<std::string, long long> counts;
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (!std::getline(comm, name))
            continue;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                counts[name] += std::stoll(line.substr(line.find(':') + 1));
                break;
            }
        }
    }
    return counts;
}

bool hasThread(pid_t pid, const std::string& name) {
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == name)
            return true;
    }
    return false;
}

void BM_DemoProgramCpuWhilePolling(benchmark::State& state) {
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
    char* argv[] = {const_cast<char*>(program), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
        state.SkipWithError("the demo program did not start");
        return;
    }
    // The link worker and the library's reader run once the program has bound its library and
    // connected; a second more lets start-up work settle.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    auto connected = [pid] { return hasThread(pid, "qx-link") && hasThread(pid, "hid-reader"); };
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
    const double seconds = std::chrono::duration<double>(kSpan).count();
    double cpu = 0;
    double fineCpu = -1;
    std::map<std::string, long long> wakeUpsBefore, wakeUpsAfter;
    for (auto _ : state) {
        wakeUpsBefore = wakeUpsByThread(pid);
        const double before = processCpuSeconds(pid);
        const double fineBefore = threadsCpuSeconds(pid);
        std::this_thread::sleep_for(kSpan);
        cpu = processCpuSeconds(pid) - before;
        const double fineAfter = threadsCpuSeconds(pid);
        if (fineBefore >= 0 && fineAfter >= 0) {
            fineCpu = fineAfter - fineBefore;
        }
        wakeUpsAfter = wakeUpsByThread(pid);
    }
    state.counters["cpu_ms_per_10s"] = cpu * 1000.0;
    state.counters["cpu_percent"] = cpu / seconds * 100.0;
    // The same, to the microsecond, of the threads that lived through the span.
    if (fineCpu >= 0) {
        state.counters["cpu_percent_fine"] = fineCpu / seconds * 100.0;
    }
    // A thread that started or ended within the span counts what it did while there.
    double all = 0;
    for (const auto& [name, count] : wakeUpsAfter) {
        const auto was = wakeUpsBefore.find(name);
        const double rate =
            static_cast<double>(count - (was == wakeUpsBefore.end() ? 0 : was->second)) / seconds;
        state.counters["wakeups_per_s_" + name] = rate;
        all += rate;
    }
    state.counters["wakeups_per_s_all"] = all;

    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    fs::remove_all(runtime);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        state.SkipWithError("the demo program did not end cleanly");
}
BENCHMARK(BM_DemoProgramCpuWhilePolling)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
