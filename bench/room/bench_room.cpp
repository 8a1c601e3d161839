// SPDX-License-Identifier: GPL-3.0-or-later
// A room of one, two and four virtual units, each polled at its own status rate, inside this
// process's event loop with no window: the processor time and the wake-ups (voluntary context
// switches, summed over every thread) the whole process takes per second. Four units should cost
// no more than four times one.
//
// QX_BENCH_SECONDS sets the span measured (default 5 s per unit count).
#include "bench/common/TaskStats.h"
#include "bench/room/RoomRig.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <unistd.h>

namespace {

void BM_RoomPolling(benchmark::State& state) {
    const int units = static_cast<int>(state.range(0));
    qx::bench::RoomRig rig(units);
    if (!rig.startAndWaitForAnswers(units)) {
        state.SkipWithError("the units did not all answer");
        return;
    }
    // Start-up work settles before the span.
    qx::bench::runEvents(1.0);
    const double seconds = qx::bench::spanSeconds(5.0);
    qx::bench::SpanFigures figures;
    uint64_t answers = 0;
    double wall = seconds;
    for (auto _ : state) {
        const uint64_t answersBefore = rig.answersStored();
        const qx::bench::SpanMeter meter(::getpid());
        wall = qx::bench::runEvents(seconds);
        figures = meter.finish(wall);
        answers = rig.answersStored() - answersBefore;
    }
    state.counters["cpu_percent"] = figures.cpuPercent;
    state.counters["cpu_percent_fine"] = figures.cpuPercentFine;
    state.counters["wakeups_per_s"] = figures.wakeUpsPerSecond;
    state.counters["forced_switches_per_s"] = figures.forcedPerSecond;
    state.counters["answers_per_s"] = static_cast<double>(answers) / wall;
    for (const auto& [name, rate] : figures.wakeUpsPerSecondByThread) {
        state.counters["wakeups_per_s_" + name] = rate;
    }
}
BENCHMARK(BM_RoomPolling)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
