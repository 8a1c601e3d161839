// SPDX-License-Identifier: GPL-3.0-or-later
// The gadget unit's loop with a datagram socket pair in place of the gadget's report node (both
// keep report boundaries) and recording hooks in place of the gadget script and the files.
#include "unit/gadget/GadgetLoop.h"

#include "link/LinkFrame.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx::gadget {
namespace {

using Report = std::array<std::uint8_t, 65>;

// One frame of up to 58 bytes in one transfer report, as the host sends it.
Report hostReport(std::uint8_t command) {
    const std::vector<std::uint8_t> frame = buildFrame(command, {}).bytes;
    Report r{};
    r[0] = 1;
    r[4] = static_cast<std::uint8_t>(frame.size());
    std::copy(frame.begin(), frame.end(), r.begin() + 5);
    r[63] = static_cast<std::uint8_t>(frame.size());
    return r;
}

struct LoopRig : ::testing::Test {
    int host = -1, unitSide = -1, controlRead = -1, controlWrite = -1;
    unit::VirtualUnit unit;
    std::mutex mutex;
    std::vector<std::string> renames; // guarded by mutex
    int dumps = 0;                    // guarded by mutex
    int opens = 0;                    // guarded by mutex
    int answersWritten = 0;           // guarded by mutex
    bool renameWorks = true;
    std::thread thread;
    int exitCode = -1;

    void SetUp() override {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        host = pair[0];
        unitSide = pair[1];
        int pipeFds[2];
        ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
        controlRead = pipeFds[0];
        controlWrite = pipeFds[1];
        unit.setLevelPattern(unit::LevelPattern::SteadyTone);
    }
    void TearDown() override {
        if (thread.joinable()) {
            control(Control::Quit);
            thread.join();
        }
        for (int fd : {host, unitSide, controlRead, controlWrite}) {
            ::close(fd);
        }
    }

    void start() {
        GadgetHooks hooks;
        hooks.openWire = [this] {
            std::lock_guard lock(mutex);
            ++opens;
            const int fd = ::dup(unitSide);
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
            return fd;
        };
        hooks.rename = [this](const std::string& product) {
            std::lock_guard lock(mutex);
            renames.push_back(product);
            return renameWorks;
        };
        hooks.dump = [this](const unit::VirtualUnit&) {
            std::lock_guard lock(mutex);
            ++dumps;
            return true;
        };
        hooks.takeControl = [](int fd) {
            std::uint8_t c = 0;
            return ::read(fd, &c, 1) == 1 ? static_cast<Control>(c) : Control::None;
        };
        hooks.say = [](const std::string&) {};
        hooks.answerWritten = [this] {
            std::lock_guard lock(mutex);
            ++answersWritten;
        };
        thread = std::thread([this, hooks = std::move(hooks)]() mutable {
            GadgetLoop loop(unit, std::move(hooks), controlRead);
            exitCode = loop.run();
        });
    }
    void control(Control c) {
        const auto byte = static_cast<std::uint8_t>(c);
        ASSERT_EQ(::write(controlWrite, &byte, 1), 1);
    }
    int stop() {
        control(Control::Quit);
        thread.join();
        return exitCode;
    }
    void send(const Report& r) { ASSERT_EQ(::write(host, r.data(), r.size()), 65); }
    std::optional<std::vector<std::uint8_t>> receive(int timeoutMs = 2000) {
        pollfd p{host, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> buffer(256);
        const ssize_t n = ::read(host, buffer.data(), buffer.size());
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }
    template <typename F>
    bool eventually(F done) {
        for (int i = 0; i < 400; ++i) {
            {
                std::lock_guard lock(mutex);
                if (done()) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

TEST_F(LoopRig, AnswersEachRequestWithWholeReportsOnTheWire) {
    start();
    for (int i = 0; i < 3; ++i) {
        send(hostReport(0x00));
        const auto answer = receive();
        ASSERT_TRUE(answer) << "request " << i;
        ASSERT_EQ(answer->size(), 65u);
        EXPECT_EQ((*answer)[0], 1);
        // A 43-byte answer frame fits one report: offset 0 and the last-piece total 0.
        EXPECT_EQ((*answer)[63], 43);
        const auto frame = checkFrame(std::span(*answer).subspan(5, 43));
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->command, 0x00);
        ASSERT_EQ(frame->payload.size(), 38u);
        EXPECT_EQ(static_cast<std::int8_t>(frame->payload[18]), 0);
        EXPECT_EQ(static_cast<std::int8_t>(frame->payload[19]), -2);
    }
    EXPECT_EQ(stop(), 0);
    EXPECT_EQ(dumps, 1) << "memories saved on the way out";
    EXPECT_EQ(answersWritten, 3) << "each answer told as it went out";
}

TEST_F(LoopRig, RestartsRenameTheGadgetAndReopenTheNode) {
    start();
    control(Control::RestartBoot);
    ASSERT_TRUE(eventually([&] { return renames.size() == 1; }));
    EXPECT_EQ(renames[0], "QX-77ZT (boot)");
    EXPECT_TRUE(eventually([&] { return opens == 2; }));
    EXPECT_TRUE(unit.bootMode());

    // The host's "leave update" makes the unit restart itself in normal mode.
    send(hostReport(0xFC));
    ASSERT_TRUE(eventually([&] { return renames.size() == 2; }));
    EXPECT_EQ(renames[1], "QX-77ZT");
    EXPECT_FALSE(unit.bootMode());

    // Still answering on the reopened node.
    ASSERT_TRUE(eventually([&] { return opens == 3; }));
    send(hostReport(0x00));
    EXPECT_TRUE(receive());
    control(Control::Dump);
    EXPECT_TRUE(eventually([&] { return dumps == 1; }));
    EXPECT_EQ(stop(), 0);
}

TEST_F(LoopRig, AFailedRenameFailsTheRunButKeepsServing) {
    renameWorks = false;
    start();
    control(Control::RestartBoot);
    ASSERT_TRUE(eventually([&] { return renames.size() == 1; }));
    // Boot mode answers no status request, but a reset request is answered.
    send(hostReport(0xFD));
    EXPECT_TRUE(receive());
    EXPECT_EQ(stop(), 1);
}

TEST_F(LoopRig, DelayedAnswersGoOutWhenDue) {
    unit::Faults slow;
    slow.delay = std::chrono::milliseconds(150);
    unit.setFaults(slow);
    start();
    const auto sent = std::chrono::steady_clock::now();
    send(hostReport(0x00));
    EXPECT_FALSE(receive(50)) << "not before its time";
    EXPECT_TRUE(receive(2000));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(150));
    EXPECT_EQ(stop(), 0);
}

} // namespace
} // namespace qx::gadget
