// SPDX-License-Identifier: GPL-3.0-or-later
// The link worker over the Linux library backend when the unit stops taking reports: what the
// worker, a stop and quitting cost then.
#include "StallingDevice.h"
#include "hidlib/linux/LinuxBackend.h"
#include "link/LinkWorker.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace qx {
namespace {

using namespace std::chrono_literals;
using hidtest::Stall;

// The library's part for one open device: reports go to the backend on the descriptor of a
// pipe, and closing gives up the reports still waiting on it.
class BackendPort : public HidPort {
public:
    BackendPort(hid::LinuxBackend& backend, int fd) : backend_(backend), fd_(fd) {}
    uint8_t scanForDevices() override { return 1; }
    void getDeviceInfo(uint8_t, THIDdeviceInfo*) override {}
    bool openDevice(uint8_t) override { return true; }
    bool closeDevice() override {
        backend_.abandon(fd_);
        return true;
    }
    uint8_t setOutputReport(uint8_t* report) override {
        sent_.fetch_add(1);
        return backend_.setOutputReport(fd_, std::span<const uint8_t>(report, kTransferReportSize))
                   ? 1
                   : 0;
    }
    int offered() const { return sent_.load(); }

private:
    hid::LinuxBackend& backend_;
    const int fd_;
    std::atomic<int> sent_{0};
};

struct StalledUnitTest : ::testing::Test {
    StalledUnitTest() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        readEnd = fds[0];
        writeEnd = fds[1];
        port = std::make_unique<BackendPort>(*backend, writeEnd);
        link.connected = true;
        worker = std::make_unique<Tthr>(link, *port, [] {});
    }
    ~StalledUnitTest() override {
        stall->release();
        worker.reset();
        port.reset();
        backend.reset();
        ::close(readEnd);
        ::close(writeEnd);
    }
    // An update block: nine reports, the first of which the unit holds.
    LinkState::Ticket postBlock() {
        const std::vector<uint8_t> block(4 + 512, 0x5A);
        const LinkState::Ticket ticket = link.post(cmd::kWriteFlash, block);
        EXPECT_TRUE(stall->waitEntered());
        return ticket;
    }

    std::shared_ptr<Stall> stall = std::make_shared<Stall>();
    std::unique_ptr<hid::LinuxBackend> backend =
        std::make_unique<hid::LinuxBackend>(hid::writeBeforeDeadline, hidtest::stalling(stall));
    int readEnd = -1, writeEnd = -1;
    LinkState link;
    std::unique_ptr<BackendPort> port;
    std::unique_ptr<Tthr> worker;
};

// The report the unit holds fails at its bound and the stop ends the frame after it, long
// before the kernel would give the report up; the block does not count as sent.
TEST_F(StalledUnitTest, StoppingTheWorkerDoesNotWaitForTheStalledReport) {
    const LinkState::Ticket ticket = postBlock();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(hidtest::endsWithoutTheStall(stall, [&] {
        worker->requestStop();
        worker->join();
    }));
    std::cout << "stopping took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count()
              << " ms\n";
    EXPECT_EQ(port->offered(), 1) << "the stop ends the frame after the report in progress";
    EXPECT_EQ(link.waitTaken(ticket, 0ms), std::optional<bool>(false));
}

// Left running, the worker offers every report of the block (each behind the held one waits
// only briefly) and reports the block as not sent, long before the kernel gives up the first.
TEST_F(StalledUnitTest, AStalledUnitFailsAWholeBlockBeforeTheKernelGivesUpOneReport) {
    const LinkState::Ticket ticket = postBlock();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(hidtest::endsWithoutTheStall(
        stall, [&] { EXPECT_EQ(link.waitTaken(ticket, 10s), std::optional<bool>(false)); }));
    std::cout << "the block failed after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count()
              << " ms\n";
    EXPECT_EQ(port->offered(), 9);
}

// Quitting as the program does (close the unit, end the worker, unload the library) while the
// unit holds a report: closing ends the wait for it, and the library leaves the report to the
// kernel rather than wait for it.
TEST_F(StalledUnitTest, QuittingDoesNotWaitForTheStalledReport) {
    postBlock();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(hidtest::endsWithoutTheStall(stall, [&] {
        port->closeDevice();
        worker.reset();
        backend.reset();
    }));
    std::cout << "quitting took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count()
              << " ms\n";
    EXPECT_TRUE(stall->waitLeft());
}

} // namespace
} // namespace qx
