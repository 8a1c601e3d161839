// SPDX-License-Identifier: GPL-3.0-or-later
// The reader thread: delivery, its start and stop with open, close and registration, and its
// safety against close, scan and re-registration from other threads.
#include "FakeBackend.h"
#include "HandlerSink.h"
#include "hidlib/core/Library.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

using hidtest::Bytes;
using hidtest::FakeBackend;
using hidtest::HandlerSink;
using namespace std::chrono_literals;

namespace {

const std::string kUnit = "/dev/hidraw0";
const std::string kOther = "/dev/hidraw1";

// A numbered report of ID 1 carrying a sequence number in its first two data bytes.
Bytes numbered(int seq) {
    Bytes r(65, 0);
    r[0] = 1;
    r[1] = static_cast<uint8_t>(seq >> 8);
    r[2] = static_cast<uint8_t>(seq);
    return r;
}

int sequenceOf(const THIDreport& r) {
    return (r.data[0] << 8) | r.data[1];
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        HandlerSink::instance().reset();
        backend.setDevices({hidtest::unitRecord(kUnit), hidtest::unitRecord(kOther)});
        ASSERT_EQ(lib->scan(), 2);
    }
    void TearDown() override {
        lib.reset(); // joins the reader before the sink is reset again
        EXPECT_EQ(backend.violations, 0);
        HandlerSink::instance().reset();
    }

    HandlerSink& sink = HandlerSink::instance();
    FakeBackend backend;
    std::unique_ptr<hid::Library> lib = std::make_unique<hid::Library>(backend);
};

TEST_F(ReaderTest, DeliversEveryReportOnceInOrderOnItsOwnThread) {
    lib->setInputHandler(&HandlerSink::onInput);
    ASSERT_TRUE(lib->open(0));
    constexpr int kReports = 500;
    std::thread producer([&] {
        for (int i = 0; i < kReports; ++i)
            backend.push(kUnit, numbered(i));
    });
    producer.join();
    ASSERT_TRUE(sink.waitFor(kReports));
    const auto got = sink.received();
    ASSERT_EQ(got.size(), size_t(kReports));
    for (int i = 0; i < kReports; ++i) {
        EXPECT_EQ(sequenceOf(got[i].report), i);
        EXPECT_EQ(got[i].report.reportId, 1);
        EXPECT_EQ(got[i].count, 64);
        EXPECT_NE(got[i].thread, std::this_thread::get_id());
    }
}

TEST_F(ReaderTest, UnnumberedReportsArriveWithIdZeroInFront) {
    backend.setDevices({hidtest::unnumberedRecord(kUnit)});
    ASSERT_EQ(lib->scan(), 1);
    lib->setInputHandler(&HandlerSink::onInput);
    ASSERT_TRUE(lib->open(0));
    backend.push(kUnit, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8});
    ASSERT_TRUE(sink.waitFor(1));
    const auto got = sink.received();
    EXPECT_EQ(got[0].report.reportId, 0);
    EXPECT_EQ(got[0].report.data[0], 0xA1);
    EXPECT_EQ(got[0].report.data[7], 0xA8);
    EXPECT_EQ(got[0].count, 8);
}

TEST_F(ReaderTest, WithoutAHandlerNothingIsReadAndQueuedReportsComeFirstLater) {
    ASSERT_TRUE(lib->open(0));
    for (int i = 0; i < 5; ++i)
        backend.push(kUnit, numbered(i));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(backend.reads, 0);
    EXPECT_EQ(backend.queued(kUnit), 5u);

    lib->setInputHandler(&HandlerSink::onInput);
    backend.push(kUnit, numbered(5));
    ASSERT_TRUE(sink.waitFor(6));
    const auto got = sink.received();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sequenceOf(got[i].report), i);
}

TEST_F(ReaderTest, WaitsInsteadOfSpinning) {
    // No device: the reader only waits to be woken.
    lib->setInputHandler(&HandlerSink::onInput);
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(backend.waits, 3);
    EXPECT_EQ(backend.reads, 0);

    // A quiet open device: one wait, no reads.
    ASSERT_TRUE(lib->open(0));
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(backend.waits, 6);
    EXPECT_EQ(backend.reads, 0);

    // A device that went away: the reader stops waiting on it rather than looping on hang-ups.
    backend.unplug(kUnit);
    std::this_thread::sleep_for(100ms);
    const int waits = backend.waits;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(backend.waits, waits);
    EXPECT_LE(waits, 10);
}

TEST_F(ReaderTest, CloseStopsDeliveryAndReopenResumesIt) {
    lib->setInputHandler(&HandlerSink::onInput);
    ASSERT_TRUE(lib->open(0));
    backend.push(kUnit, numbered(1));
    ASSERT_TRUE(sink.waitFor(1));
    ASSERT_TRUE(lib->close());
    backend.push(kUnit, numbered(2));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.size(), 1u);

    ASSERT_TRUE(lib->open(1)); // another device: its reports, not the closed one's
    backend.push(kOther, numbered(3));
    ASSERT_TRUE(sink.waitFor(2));
    EXPECT_EQ(sequenceOf(sink.received()[1].report), 3);
    EXPECT_EQ(backend.queued(kUnit), 1u);
}

TEST_F(ReaderTest, ClearingTheHandlerStopsReading) {
    lib->setInputHandler(&HandlerSink::onInput);
    ASSERT_TRUE(lib->open(0));
    backend.push(kUnit, numbered(1));
    ASSERT_TRUE(sink.waitFor(1));
    lib->setInputHandler(nullptr);
    backend.push(kUnit, numbered(2));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.size(), 1u);
    EXPECT_EQ(backend.queued(kUnit), 1u);
}

// What a handler uses may be freed as soon as the handler is replaced; from inside the handler
// the replacement must not wait for itself.
TEST_F(ReaderTest, ReplacingTheHandlerWaitsForACallUnderWay) {
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    hid::Library* const l = lib.get();
    sink.setHook([&, l] {
        if (HandlerSink::instance().size() == 1) {
            entered.set_value();
            released.wait();
        } else {
            l->setInputHandler(nullptr);
        }
    });
    lib->setInputHandler(&HandlerSink::onInput);
    ASSERT_TRUE(lib->open(0));
    backend.push(kUnit, numbered(1));
    entered.get_future().wait();

    auto replaced =
        std::async(std::launch::async, [l] { l->setInputHandler(&HandlerSink::onInput); });
    EXPECT_EQ(replaced.wait_for(50ms), std::future_status::timeout)
        << "returned while the handler still ran";
    release.set_value();
    replaced.get();

    backend.push(kUnit, numbered(2));
    ASSERT_TRUE(sink.waitFor(2));
    backend.push(kUnit, numbered(3));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.size(), 2u) << "the handler cleared itself";
}

TEST_F(ReaderTest, HandlerMayCallBackIntoTheLibrary) {
    // The link sends its next frame from the handler, and may close the device there.
    std::atomic<int> sent{0};
    hid::Library* const l = lib.get(); // the pointer itself is reset at tear-down
    sink.setHook([&sent, l] {
        uint8_t out[65] = {1};
        sent += l->setOutputReport(out) == 64 ? 1 : 0;
        THIDreport r{};
        r.reportId = 1;
        sent += l->write(r) == 64 ? 1 : 0;
        if (HandlerSink::instance().size() == 3)
            l->close();
    });
    lib->setInputHandler(&HandlerSink::onInput);
    ASSERT_TRUE(lib->open(0));
    for (int i = 0; i < 5; ++i)
        backend.push(kUnit, numbered(i));
    ASSERT_TRUE(sink.waitFor(3));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(sink.size(), 3u) << "nothing after the close made inside the handler";
    EXPECT_EQ(sent, 6);
}

TEST_F(ReaderTest, CloseDuringAReadNeverUsesAClosedHandle) {
    backend.setReadDelay(200us);
    lib->setInputHandler(&HandlerSink::onInput);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 0; !done; ++i) {
            backend.push(kUnit, numbered(i & 0xFFFF));
            std::this_thread::sleep_for(50us);
        }
    });
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(lib->open(0));
        std::this_thread::sleep_for(std::chrono::microseconds(i % 7 * 60));
        ASSERT_TRUE(lib->close());
    }
    done = true;
    producer.join();
    EXPECT_EQ(backend.violations, 0);
    EXPECT_GT(sink.size(), 0u);
}

TEST_F(ReaderTest, StressOpenCloseScanAndRegistrationWhileReportsFlow) {
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            backend.push(i % 2 ? kUnit : kOther, numbered(i & 0xFFFF));
            std::this_thread::sleep_for(20us);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            lib->open(static_cast<uint8_t>(i % 3)); // slot 2 does not exist
            std::this_thread::sleep_for(100us);
            lib->close();
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            lib->scan();
            THIDdeviceInfo info;
            lib->deviceInfo(static_cast<uint8_t>(i % 2), &info);
            std::this_thread::sleep_for(1ms);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            lib->setInputHandler(i % 3 ? &HandlerSink::onInput : nullptr);
            std::this_thread::sleep_for(300us);
        }
    });
    threads.emplace_back([&] {
        THIDreport r{};
        uint8_t out[65] = {1};
        while (!done) {
            lib->read(&r);
            lib->write(r);
            lib->setOutputReport(out);
            lib->inputReportCount(1);
            lib->outputReportSize();
            std::this_thread::sleep_for(50us);
        }
    });
    std::this_thread::sleep_for(1500ms);
    done = true;
    for (auto& t : threads)
        t.join();
    lib.reset();
    EXPECT_EQ(backend.violations, 0);
    EXPECT_EQ(backend.openHandles(), 0u);
    for (const auto& r : sink.received())
        EXPECT_EQ(r.count, 64);
}

} // namespace
