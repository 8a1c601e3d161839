// SPDX-License-Identifier: GPL-3.0-or-later
// What the kernel counts for a process's threads, read from /proc: processor time and context
// switches, for benchmarks that measure a program while it runs (itself or another process).
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <sys/types.h>
#include <unistd.h>

namespace qx::bench {

inline std::filesystem::path procFolder(pid_t pid) {
    return std::filesystem::path("/proc") / std::to_string(pid);
}

// User plus system time of a process so far, in seconds (to the clock tick, 10 ms).
inline double processCpuSeconds(pid_t pid) {
    std::ifstream in(procFolder(pid) / "stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 > text.size())
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
// scheduler's count in nanoseconds; the clock ticks of /proc/PID/stat are too coarse for a
// program that runs half a millisecond a second). Negative when unavailable.
inline double threadsCpuSeconds(pid_t pid) {
    std::error_code error;
    unsigned long long ns = 0;
    bool any = false;
    for (const auto& task : std::filesystem::directory_iterator(procFolder(pid) / "task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        unsigned long long onCpu = 0;
        if (schedstat >> onCpu) {
            ns += onCpu;
            any = true;
        }
    }
    return any ? static_cast<double>(ns) / 1e9 : -1;
}

// Context switches so far, summed by thread name: voluntary ones (a thread going to sleep to be
// woken again, which is what a wake-up costs) and those the scheduler forced.
struct Switches {
    long long voluntary = 0;
    long long forced = 0;
};

inline std::map<std::string, Switches> switchesByThread(pid_t pid) {
    std::map<std::string, Switches> counts;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(procFolder(pid) / "task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (!std::getline(comm, name))
            continue;
        std::ifstream status(task.path() / "status");
        Switches& c = counts[name];
        for (std::string line; std::getline(status, line);) {
            const auto colon = line.find(':');
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                c.voluntary += std::stoll(line.substr(colon + 1));
            else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                c.forced += std::stoll(line.substr(colon + 1));
        }
    }
    return counts;
}

// How many of a process's threads have `name` now.
inline int threadsNamed(pid_t pid, const std::string& name) {
    std::error_code error;
    int n = 0;
    for (const auto& task : std::filesystem::directory_iterator(procFolder(pid) / "task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        if (std::getline(comm, line) && line == name)
            ++n;
    }
    return n;
}

// The figures of a span between two readings of a process, per wall second.
struct SpanFigures {
    double cpuPercent = 0;      // clock ticks of the whole process
    double cpuPercentFine = -1; // scheduler nanoseconds of the threads alive at both ends
    double wakeUpsPerSecond = 0;
    double forcedPerSecond = 0;
    std::map<std::string, double> wakeUpsPerSecondByThread;
};

class SpanMeter {
public:
    explicit SpanMeter(pid_t pid) : pid_(pid) {
        switches_ = switchesByThread(pid_);
        cpu_ = processCpuSeconds(pid_);
        fineCpu_ = threadsCpuSeconds(pid_);
    }
    SpanFigures finish(double seconds) const {
        SpanFigures f;
        f.cpuPercent = (processCpuSeconds(pid_) - cpu_) / seconds * 100.0;
        const double fine = threadsCpuSeconds(pid_);
        if (fine >= 0 && fineCpu_ >= 0)
            f.cpuPercentFine = (fine - fineCpu_) / seconds * 100.0;
        // A thread that started or ended within the span counts what it did while there.
        for (const auto& [name, now] : switchesByThread(pid_)) {
            const auto was = switches_.find(name);
            const Switches before = was == switches_.end() ? Switches{} : was->second;
            const double rate = static_cast<double>(now.voluntary - before.voluntary) / seconds;
            f.wakeUpsPerSecondByThread[name] = rate;
            f.wakeUpsPerSecond += rate;
            f.forcedPerSecond += static_cast<double>(now.forced - before.forced) / seconds;
        }
        return f;
    }

private:
    pid_t pid_;
    std::map<std::string, Switches> switches_;
    double cpu_ = 0;
    double fineCpu_ = -1;
};

} // namespace qx::bench
