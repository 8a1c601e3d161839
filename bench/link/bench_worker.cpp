// SPDX-License-Identifier: GPL-3.0-or-later
// The link worker against the virtual unit: latency from a post to the first report handed to
// the library, from a settings change to its stored acknowledgement, and the worker's processor
// time while idle and while polling status at 10 Hz.
#include "link/LinkWorker.h"
#include "unit/UnitPort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Notes when the first report of a send reaches the port.
class TimingPort : public qx::unit::UnitPort {
public:
    using UnitPort::UnitPort;
    std::atomic<int64_t> firstReportNs{0};
    uint8_t setOutputReport(uint8_t* report) override {
        int64_t expected = 0;
        firstReportNs.compare_exchange_strong(expected, Clock::now().time_since_epoch() /
                                                            std::chrono::nanoseconds(1));
        return UnitPort::setOutputReport(report);
    }
};

struct Rig {
    qx::LinkState link;
    qx::unit::VirtualUnit unit;
    TimingPort port{unit};
    qx::Receiver receiver{link, nullptr};
    std::atomic<int> redraws{0};
    std::unique_ptr<qx::Tthr> worker;
    Rig() {
        port.setInputHandler(
            [this](const THIDreport& r, uint8_t n) { receiver.onInputReport(r, n); });
        port.openDevice(0);
        link.connected = true;
        worker = std::make_unique<qx::Tthr>(link, port, [this] { ++redraws; });
    }
    ~Rig() {
        worker.reset();
        port.setInputHandler({});
    }
};

void report(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    if (us.empty()) {
        return;
    }
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void BM_PostToFirstReport(benchmark::State& state) {
    Rig rig;
    std::vector<double> us;
    for (auto _ : state) {
        rig.port.firstReportNs = 0;
        const int64_t t0 = Clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
        const auto ticket = rig.link.post(0xFB);
        rig.link.waitTaken(ticket);
        us.push_back(static_cast<double>(rig.port.firstReportNs.load() - t0) / 1000.0);
    }
    report(state, us);
}
BENCHMARK(BM_PostToFirstReport)->Iterations(2000)->UseRealTime();

void BM_SettingsChangeToAcknowledged(benchmark::State& state) {
    Rig rig;
    std::vector<double> us;
    int i = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        rig.link.save([&](qx::DeviceSettings& s) { s.muteOn = static_cast<uint8_t>(++i & 1); });
        while (!rig.link.writeAcked()) {
            std::this_thread::yield();
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    report(state, us);
}
BENCHMARK(BM_SettingsChangeToAcknowledged)->Iterations(1000)->UseRealTime();

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Processor time of the whole rig (worker, delivery thread, this thread asleep) per wall second.
void BM_CpuIdleAndPolling(benchmark::State& state) {
    const bool polling = state.range(0) != 0;
    Rig rig;
    for (auto _ : state) {
        const double cpu0 = processCpuSeconds();
        const auto t0 = Clock::now();
        for (int tick = 0; tick < 20; ++tick) { // two seconds
            std::this_thread::sleep_for(100ms);
            if (polling) {
                rig.link.postStatusRequest();
            }
        }
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        state.counters["cpu_percent"] = 100.0 * (processCpuSeconds() - cpu0) / wall;
    }
    state.counters["redraws"] = rig.redraws.load();
}
BENCHMARK(BM_CpuIdleAndPolling)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
