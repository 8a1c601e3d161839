// SPDX-License-Identifier: GPL-3.0-or-later
#include "StallingDevice.h"
#include "hidlib/linux/BoundedWriter.h"
#include "hidlib/linux/LinuxBackend.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace hid {
namespace {

using namespace std::chrono_literals;
using hidtest::endsWithoutTheStall;
using hidtest::Stall;
using hidtest::stalling;

// A pipe whose write end behaves like an opened hidraw node: non-blocking, closed on exec.
struct Pipe {
    int readEnd = -1, writeEnd = -1;
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    ~Pipe() {
        ::close(readEnd);
        if (writeEnd >= 0)
            ::close(writeEnd);
    }
    std::vector<uint8_t> drain() const {
        std::vector<uint8_t> all;
        std::array<uint8_t, 4096> chunk{};
        for (ssize_t n; (n = ::read(readEnd, chunk.data(), chunk.size())) > 0;)
            all.insert(all.end(), chunk.begin(), chunk.begin() + n);
        return all;
    }
};

std::vector<uint8_t> report(uint8_t first) {
    std::vector<uint8_t> r(65);
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<uint8_t>(first + i);
    return r;
}

TEST(BoundedWriter, WritesAReportAndFailsOnlyWhenThereIsNoRoomInTime) {
    Pipe pipe;
    BoundedWriter writer;
    EXPECT_TRUE(writer.write(pipe.writeEnd, report(1), 200ms));
    EXPECT_EQ(pipe.drain(), report(1));

    // Fill the pipe: a report that finds no room by its deadline fails, and nothing of it is
    // written later.
    const std::vector<uint8_t> filler(4096, 0xEE);
    while (::write(pipe.writeEnd, filler.data(), filler.size()) > 0) {
    }
    EXPECT_FALSE(writer.write(pipe.writeEnd, report(2), 20ms));
    const auto drained = pipe.drain();
    EXPECT_TRUE(std::all_of(drained.begin(), drained.end(), [](uint8_t b) { return b == 0xEE; }));

    EXPECT_TRUE(writer.write(pipe.writeEnd, report(3), 200ms));
    EXPECT_EQ(pipe.drain(), report(3));
    EXPECT_FALSE(writer.write(-1, report(4), 20ms)) << "no descriptor to write to";
}

// A write that the kernel holds (a stalled device) is given up on at the timeout; it cannot be
// cancelled, so later reports fail until it ends, and then go out again.
TEST(BoundedWriter, AStalledWriteReturnsAtTheTimeoutAndHoldsBackTheNextUntilItEnds) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    std::atomic<bool> firstWritten{false};
    std::promise<void> firstEnding;
    Pipe pipe;
    {
        BoundedWriter writer([&](int fd, std::span<const uint8_t> bytes,
                                 BoundedWriter::Clock::time_point deadline) {
            if (++calls == 1) {
                released.wait();
                // The caller closed its descriptor meanwhile; ours still reaches the device.
                firstWritten =
                    ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
                firstEnding.set_value();
                return firstWritten.load();
            }
            return writeBeforeDeadline(fd, bytes, deadline);
        });
        const int callers = ::fcntl(pipe.writeEnd, F_DUPFD_CLOEXEC, 0);
        // Long enough for the writer's thread to take the report up under any load: a report
        // not begun by its deadline is dropped, not sent later.
        EXPECT_FALSE(writer.write(callers, report(1), 2s)) << "stalled";
        ::close(callers);
        EXPECT_FALSE(writer.write(pipe.writeEnd, report(2), 30ms)) << "still stalled";
        EXPECT_EQ(calls.load(), 1) << "a report behind a stalled one is not started";

        release.set_value();
        // Behind a report given up on, the next waits only kBehindAStall for its turn.
        ASSERT_EQ(firstEnding.get_future().wait_for(5s), std::future_status::ready);
        EXPECT_TRUE(writer.write(pipe.writeEnd, report(3), 5s));
        EXPECT_EQ(calls.load(), 2);
    }
    EXPECT_TRUE(firstWritten.load());
    auto expected = report(1);
    const auto third = report(3);
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(pipe.drain(), expected);
}

// A write that ends while the writer is being destroyed is waited for (here with a wait long
// enough for any load on the machine), not cut off.
TEST(BoundedWriter, DestructionWaitsForAWriteUnderWay) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> finished{false};
    Pipe pipe;
    std::thread releaser;
    {
        BoundedWriter writer(
            [&](int, std::span<const uint8_t>, BoundedWriter::Clock::time_point) {
                released.wait();
                finished = true;
                return true;
            },
            10s);
        // Long enough for the writer's thread to take the report on a busy machine.
        EXPECT_FALSE(writer.write(pipe.writeEnd, report(1), 500ms));
        releaser = std::thread([&] {
            std::this_thread::sleep_for(20ms);
            release.set_value();
        });
    }
    EXPECT_TRUE(finished.load());
    releaser.join();
}

// Quitting with a stalled report under way does not wait for the kernel to give it up: the
// thread is left to end by itself.
TEST(BoundedWriter, DestructionDoesNotWaitForAStalledWrite) {
    auto stall = std::make_shared<Stall>();
    Pipe pipe;
    auto writer = std::make_unique<BoundedWriter>(stalling(stall));
    EXPECT_FALSE(writer->write(pipe.writeEnd, report(1), 500ms));
    EXPECT_TRUE(endsWithoutTheStall(stall, [&] { writer.reset(); }));
    EXPECT_TRUE(stall->waitLeft()) << "the left thread ends once the device lets go";
}

// The caller closing its descriptor ends its wait for a report the device holds, well before the
// report's own timeout; later reports on a descriptor of that number are not affected.
TEST(BoundedWriter, AbandoningADescriptorEndsTheWaitForItsReport) {
    auto stall = std::make_shared<Stall>();
    std::atomic<int> calls{0};
    Pipe pipe;
    BoundedWriter writer([&, held = stalling(stall)](int fd, std::span<const uint8_t> bytes,
                                                     BoundedWriter::Clock::time_point deadline) {
        return ++calls == 1 ? held(fd, bytes, deadline) : writeBeforeDeadline(fd, bytes, deadline);
    });
    auto waiting =
        std::async(std::launch::async, [&] { return writer.write(pipe.writeEnd, report(1), 60s); });
    ASSERT_TRUE(stall->waitEntered());
    EXPECT_TRUE(endsWithoutTheStall(stall, [&] {
        writer.abandon(pipe.writeEnd);
        EXPECT_FALSE(waiting.get());
    }));
    EXPECT_TRUE(stall->waitLeft());
    EXPECT_TRUE(writer.write(pipe.writeEnd, report(2), 5s));
    EXPECT_EQ(pipe.drain(), report(2));
}

// The output-report ioctl goes through the writer's thread too: a stalled one fails at its
// bound, holds back the writes behind it, and does not hold up the backend's destruction.
TEST(LinuxBackend, AStalledOutputReportIsBoundedLikeAWrite) {
    auto stall = std::make_shared<Stall>();
    Pipe pipe;
    auto backend = std::make_unique<LinuxBackend>(writeBeforeDeadline, stalling(stall));
    const auto r = report(1);
    ASSERT_TRUE(backend->write(pipe.writeEnd, r, 2s)) << "the writer's thread is up";
    ASSERT_EQ(pipe.drain(), r);
    EXPECT_TRUE(endsWithoutTheStall(stall, [&] {
        EXPECT_FALSE(backend->setOutputReport(pipe.writeEnd, r)) << "stalled";
        EXPECT_FALSE(backend->write(pipe.writeEnd, r, 20ms)) << "behind the stalled report";
        backend.reset();
    }));
    EXPECT_TRUE(stall->waitLeft());
    EXPECT_TRUE(pipe.drain().empty());
}

// A device that stopped taking reports costs each report behind the held one a short wait, not
// its whole timeout; once the held report ends, reports wait their own timeout again.
TEST(BoundedWriter, ReportsBehindAStalledOneFailSoon) {
    auto stall = std::make_shared<Stall>();
    std::atomic<int> calls{0};
    Pipe pipe;
    BoundedWriter writer([&, held = stalling(stall)](int fd, std::span<const uint8_t> bytes,
                                                     BoundedWriter::Clock::time_point deadline) {
        return ++calls == 1 ? held(fd, bytes, deadline) : writeBeforeDeadline(fd, bytes, deadline);
    });
    EXPECT_FALSE(writer.write(pipe.writeEnd, report(1), 50ms)) << "stalled";
    EXPECT_TRUE(endsWithoutTheStall(stall, [&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(writer.write(pipe.writeEnd, report(2), 60s)) << "behind the stall";
    }));
    EXPECT_TRUE(stall->waitLeft());
    EXPECT_TRUE(writer.write(pipe.writeEnd, report(3), 60s));
    EXPECT_EQ(pipe.drain(), report(3));
    EXPECT_EQ(calls.load(), 2);
}

// Without HIDIOCSOUTPUT (a pipe knows no hidraw ioctl) the report goes out as a write.
TEST(LinuxBackend, OutputReportFallsBackToAWrite) {
    Pipe pipe;
    LinuxBackend backend;
    EXPECT_TRUE(backend.setOutputReport(pipe.writeEnd, report(7)));
    EXPECT_EQ(pipe.drain(), report(7));
}

} // namespace
} // namespace hid
