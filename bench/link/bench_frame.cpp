// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of building and of checking the largest frame of normal operation: a 512-byte flash block
// write (516-byte payload, 521-byte frame).
#include "link/LinkFrame.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<uint8_t> blockPayload() {
    std::vector<uint8_t> payload(516);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 31 + 7);
    }
    return payload;
}

void BM_BuildFlashBlockFrame(benchmark::State& state) {
    const std::vector<uint8_t> payload = blockPayload();
    for (auto _ : state) {
        qx::BuiltFrame f = qx::buildFrame(0xF1, payload);
        benchmark::DoNotOptimize(f.bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 521);
}
BENCHMARK(BM_BuildFlashBlockFrame);

void BM_CheckFlashBlockFrame(benchmark::State& state) {
    const std::vector<uint8_t> frame = qx::buildFrame(0xF1, blockPayload()).bytes;
    for (auto _ : state) {
        auto view = qx::checkFrame(frame);
        benchmark::DoNotOptimize(view);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 521);
}
BENCHMARK(BM_CheckFlashBlockFrame);

} // namespace

BENCHMARK_MAIN();
