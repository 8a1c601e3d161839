// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the largest package the 16-bit record area allows: 58 KiB of flash and 4 KiB of
// EEPROM in 247 full records, from memory and from a file.
#include "tools/mkorbu/PackageWriter.h"
#include "update/UpdatePackage.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

constexpr std::size_t kFlashBytes = 231 * 256;
constexpr std::size_t kEepromBytes = 16 * 256;
constexpr std::string_view kDevice = "QX-77ZT(boot)";

std::vector<std::uint8_t> largestPackage() {
    qx::PackageContents contents{"QX-77ZT", "1.2", std::vector<std::uint8_t>(kFlashBytes, 0x5A),
                                 std::vector<std::uint8_t>(kEepromBytes, 0xA5)};
    qx::PackageWriteResult w = qx::writePackage(contents);
    if (!w.ok) {
        std::abort();
    }
    return w.bytes;
}

void readFromMemory(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = largestPackage();
    for (auto _ : state) {
        qx::PackageReadResult r = qx::readUpdatePackage(bytes, kDevice);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(readFromMemory);

void readFromFile(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = largestPackage();
    const auto path = std::filesystem::temp_directory_path() / "qx_bench_update_package.orbu";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    for (auto _ : state) {
        qx::PackageReadResult r = qx::readUpdatePackageFile(path, kDevice);
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    std::filesystem::remove(path);
}
BENCHMARK(readFromFile);

} // namespace

BENCHMARK_MAIN();
