// SPDX-License-Identifier: GPL-3.0-or-later
// A whole firmware update (64 KiB flash, 4 KiB EEPROM) through the real link worker into the
// virtual unit, against the floor the protocol sets: the pause after each flash block plus the
// time it takes to send each block's reports.
#include "link/LinkWorker.h"
#include "unit/UnitPort.h"
#include "update/UpdateRun.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace {

using namespace qx;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFlashSize = 64 * 1024;
constexpr std::size_t kEepromSize = 4 * 1024;
constexpr std::size_t kFlashBlocks = kFlashSize / kUpdateBlockSize;
constexpr std::size_t kEepromBlocks = kEepromSize / kUpdateBlockSize;

std::vector<std::uint8_t> image(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 13);
    }
    return out;
}

// A unit in its boot loader, open, with a link that believes it connected.
struct BootedUnit {
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};

    BootedUnit() {
        unit.restart(true);
        port.scanForDevices();
        port.openDevice(0);
        link.connected = true;
        link.bootMode = true;
    }
};

// Mean time sendFrame needs for one request, measured without the worker in between.
double secondsPerSend(std::uint8_t command, std::span<const std::uint8_t> payload, int rounds) {
    BootedUnit u;
    LinkRequest req;
    req.command = command;
    req.payload.assign(payload.begin(), payload.end());
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        benchmark::DoNotOptimize(sendFrame(u.link, u.port, req));
    }
    return std::chrono::duration<double>(Clock::now() - start).count() / rounds;
}

// The reports of one flash block (erase and write) and of one EEPROM block, sent back to back.
void BM_SendBlockReports(benchmark::State& state) {
    BootedUnit u;
    const auto data = image(kUpdateBlockSize, 1);
    LinkRequest erase{cmd::kErase, {0, 0}, false, false};
    const BlockPayload block = blockPayload(0, data);
    LinkRequest write{cmd::kWriteFlash, {block.begin(), block.end()}, false, false};
    for (auto _ : state) {
        benchmark::DoNotOptimize(sendFrame(u.link, u.port, erase));
        benchmark::DoNotOptimize(sendFrame(u.link, u.port, write));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendBlockReports)->Unit(benchmark::kMicrosecond);

void BM_FullUpdate(benchmark::State& state) {
    const UpdateImages images{image(kFlashSize, 3), image(kEepromSize, 7)};
    const BlockPayload block = blockPayload(0, images.flash);
    const auto erase = erasePayload(0);
    const double eraseSend = secondsPerSend(cmd::kErase, erase, 2000);
    const double writeSend = secondsPerSend(cmd::kWriteFlash, block, 2000);
    const double floor =
        static_cast<double>(kFlashBlocks) *
            (std::chrono::duration<double>(kFlashBlockPause).count() + eraseSend + writeSend) +
        static_cast<double>(kEepromBlocks) * writeSend;

    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto u = std::make_unique<BootedUnit>();
        auto worker = std::make_unique<Tthr>(u->link, u->port, [] {});
        state.ResumeTiming();
        const auto start = Clock::now();
        const RunOutcome outcome = UpdateRun(u->link).run(images);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;
        state.PauseTiming();
        if (outcome != RunOutcome::Completed || u->unit.flash() != images.flash) {
            state.SkipWithError("the unit does not hold the image");
        }
        worker.reset();
        u.reset();
        state.ResumeTiming();
    }
    const double mean = total / static_cast<double>(state.iterations());
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["send_us_per_flash_block"] = (eraseSend + writeSend) * 1e6;
    state.counters["ratio"] = mean / floor;
}
BENCHMARK(BM_FullUpdate)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
