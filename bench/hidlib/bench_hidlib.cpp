// SPDX-License-Identifier: GPL-3.0-or-later
// Scan cost, reader delivery latency and the reader's CPU use while idle, over the fake backend
// and over the Linux backend reading a FIFO in place of a hidraw node; the cost of handing an
// output report to the writer thread against writing it in place.
#include "FakeBackend.h"
#include "hidlib/core/Library.h"
#include "hidlib/linux/BoundedWriter.h"
#include "hidlib/linux/LinuxBackend.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int64_t> arrivedAt{0};
std::atomic<int> arrivals{0};

void HID_LIB_CALL onInput(THIDreport, uint8_t) {
    arrivedAt.store(Clock::now().time_since_epoch().count());
    arrivals.fetch_add(1);
}

// The Linux backend with one "device": a FIFO that stands in for a hidraw node.
class FifoBackend final : public hid::Backend {
public:
    FifoBackend() {
        char dir[] = "/tmp/hidlib-benchXXXXXX";
        dir_ = mkdtemp(dir);
        path_ = dir_ + "/hidraw";
        mkfifo(path_.c_str(), 0600);
        writer_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    ~FifoBackend() override {
        ::close(writer_);
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    void send(const uint8_t* bytes, size_t n) {
        benchmark::DoNotOptimize(::write(writer_, bytes, n));
    }

    std::vector<hid::DeviceRecord> enumerate() override { return {hidtest::unitRecord(path_)}; }
    hid::Handle open(const std::string& p, bool rw) override { return real_.open(p, rw); }
    void close(hid::Handle h) override { real_.close(h); }
    bool write(hid::Handle h, std::span<const uint8_t> r, std::chrono::milliseconds t) override {
        return real_.write(h, r, t);
    }
    hid::ReadResult read(hid::Handle h, std::span<uint8_t> b) override { return real_.read(h, b); }
    bool setOutputReport(hid::Handle h, std::span<const uint8_t> r) override {
        return real_.setOutputReport(h, r);
    }
    bool getInputReport(hid::Handle h, std::span<uint8_t> r) override {
        return real_.getInputReport(h, r);
    }
    bool setFeatureReport(hid::Handle h, std::span<const uint8_t> r) override {
        return real_.setFeatureReport(h, r);
    }
    bool getFeatureReport(hid::Handle h, std::span<uint8_t> r) override {
        return real_.getFeatureReport(h, r);
    }
    hid::WaitStatus wait(hid::Handle h) override { return real_.wait(h); }
    void wake() override { real_.wake(); }

private:
    hid::LinuxBackend real_;
    std::string dir_, path_;
    int writer_ = -1;
};

void BM_Scan32FakeDevices(benchmark::State& state) {
    hidtest::FakeBackend backend;
    std::vector<hid::DeviceRecord> devices;
    for (int i = 0; i < 32; ++i)
        devices.push_back(hidtest::unitRecord("/dev/hidraw" + std::to_string(i)));
    backend.setDevices(devices);
    hid::Library lib(backend);
    for (auto _ : state)
        benchmark::DoNotOptimize(lib.scan());
}
BENCHMARK(BM_Scan32FakeDevices);

// Time from a report entering the backend to the input handler being called.
template <typename Send>
void measureLatency(benchmark::State& state, hid::Library& lib, Send send) {
    lib.setInputHandler(&onInput);
    if (lib.scan() != 1 || !lib.open(0)) {
        state.SkipWithError("no device");
        return;
    }
    for (auto _ : state) {
        const int before = arrivals.load();
        const auto start = Clock::now();
        send();
        while (arrivals.load() == before)
            std::this_thread::yield();
        const auto end = Clock::time_point(Clock::duration(arrivedAt.load()));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    lib.close();
}

void BM_DeliveryLatencyFake(benchmark::State& state) {
    hidtest::FakeBackend backend;
    backend.setDevices({hidtest::unitRecord("/dev/hidraw0")});
    hid::Library lib(backend);
    hidtest::Bytes report(65, 0);
    report[0] = 1;
    measureLatency(state, lib, [&] { backend.push("/dev/hidraw0", report); });
}
BENCHMARK(BM_DeliveryLatencyFake)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_DeliveryLatencyLinuxBackend(benchmark::State& state) {
    FifoBackend backend;
    hid::Library lib(backend);
    uint8_t report[65] = {1};
    measureLatency(state, lib, [&] { backend.send(report, sizeof report); });
}
BENCHMARK(BM_DeliveryLatencyLinuxBackend)->UseManualTime()->Unit(benchmark::kMicrosecond);

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU the whole process spends while this thread sleeps with a quiet device open: that is the
// reader's idle cost, and it should be close to nothing.
void measureIdle(benchmark::State& state, hid::Library& lib) {
    lib.setInputHandler(&onInput);
    if (lib.scan() != 1 || !lib.open(0)) {
        state.SkipWithError("no device");
        return;
    }
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        wall += std::chrono::duration<double>(Clock::now() - start).count();
        cpu += processCpuSeconds() - before;
    }
    state.counters["cpu_ms_per_s"] = cpu / wall * 1000.0;
    lib.close();
}

void BM_IdleCpuFake(benchmark::State& state) {
    hidtest::FakeBackend backend;
    backend.setDevices({hidtest::unitRecord("/dev/hidraw0")});
    hid::Library lib(backend);
    measureIdle(state, lib);
}
BENCHMARK(BM_IdleCpuFake)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_IdleCpuLinuxBackend(benchmark::State& state) {
    FifoBackend backend;
    hid::Library lib(backend);
    measureIdle(state, lib);
}
BENCHMARK(BM_IdleCpuLinuxBackend)->Iterations(1)->Unit(benchmark::kMillisecond);

// A pipe drained by a thread of its own stands in for the device.
struct DrainedPipe {
    int fds[2] = {-1, -1};
    std::atomic<bool> stop{false};
    std::thread drainer;
    DrainedPipe() {
        if (::pipe2(fds, O_CLOEXEC) != 0)
            std::abort();
        drainer = std::thread([this] {
            char chunk[4096];
            while (::read(fds[0], chunk, sizeof chunk) > 0) {
            }
        });
    }
    ~DrainedPipe() {
        ::close(fds[1]);
        drainer.join();
        ::close(fds[0]);
    }
};

void BM_WriteReportInPlace(benchmark::State& state) {
    DrainedPipe pipe;
    const std::vector<uint8_t> report(65, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(hid::writeBeforeDeadline(pipe.fds[1], report,
                                                          hid::BoundedWriter::Clock::now() +
                                                              std::chrono::milliseconds(200)));
    }
}
BENCHMARK(BM_WriteReportInPlace)->Unit(benchmark::kMicrosecond);

void BM_WriteReportThroughWriterThread(benchmark::State& state) {
    DrainedPipe pipe;
    hid::BoundedWriter writer;
    const std::vector<uint8_t> report(65, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(writer.write(pipe.fds[1], report, std::chrono::milliseconds(200)));
    }
}
BENCHMARK(BM_WriteReportThroughWriterThread)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
