// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/gadget/GadgetLoop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include <poll.h>
#include <unistd.h>

namespace qx::gadget {

namespace {

// Larger than any report, so that a report too long for the unit is still read whole and dropped
// as one, never split into two.
constexpr std::size_t kReadBuffer = 512;

} // namespace

GadgetLoop::GadgetLoop(unit::VirtualUnit& unit, GadgetHooks hooks, int controlFd)
    : unit_(unit), hooks_(std::move(hooks)), controlFd_(controlFd) {
    unit_.setRestartHandler([this](bool boot) { restartRequest_ = boot; });
    // A restart unbinds the gadget, which may take the verdict with it before the host has read
    // it: here the unit leaves its boot loader when the host or the rig asks.
    unit_.setRestartsAfterUpdate(false);
}

GadgetLoop::~GadgetLoop() {
    unit_.setRestartHandler({});
    closeWire();
}

bool GadgetLoop::openWire() {
    closeWire();
    wire_ = hooks_.openWire();
    return wire_ >= 0;
}

void GadgetLoop::closeWire() {
    if (wire_ >= 0) {
        ::close(wire_);
        wire_ = -1;
    }
}

int GadgetLoop::pollTimeoutMs() const {
    const auto next = unit_.nextReadyAt();
    if (!next) {
        return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - unit::Clock::now());
    return static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
}

void GadgetLoop::readReports() {
    std::array<std::uint8_t, kReadBuffer> buffer{};
    for (;;) {
        const ssize_t n = ::read(wire_, buffer.data(), buffer.size());
        if (n > 0) {
            unit_.acceptOutputReport(
                std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return; // EAGAIN: nothing more for now
    }
}

void GadgetLoop::collectAnswers() {
    while (auto report = unit_.takeInputReport()) {
        outgoing_.push_back(*report);
    }
}

void GadgetLoop::writeAnswers() {
    while (!outgoing_.empty()) {
        const unit::Report& report = outgoing_.front();
        const ssize_t n = ::write(wire_, report.data(), report.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return; // EAGAIN: the host has not fetched the previous report yet
        }
        outgoing_.pop_front();
        if (hooks_.answerWritten) {
            hooks_.answerWritten();
        }
    }
}

bool GadgetLoop::restart(bool boot) {
    closeWire();
    outgoing_.clear();
    unit_.restart(boot);
    const std::string product = unit_.product();
    const bool renamed = hooks_.rename(product);
    const bool opened = openWire();
    hooks_.say(std::string("restarted in ") + (boot ? "boot" : "normal") + " mode as \"" + product +
               "\"" + (renamed ? "" : ", but the rename failed") +
               (opened ? "" : ", and the report node did not open"));
    return renamed && opened;
}

int GadgetLoop::run() {
    if (!openWire()) {
        hooks_.say("the report node does not open");
        return 1;
    }
    for (;;) {
        collectAnswers();
        std::array<pollfd, 2> fds{
            {{controlFd_, POLLIN, 0},
             {wire_, static_cast<short>(POLLIN | (outgoing_.empty() ? 0 : POLLOUT)), 0}}};
        const int ready = ::poll(fds.data(), fds.size(), outgoing_.empty() ? pollTimeoutMs() : -1);
        if (ready < 0 && errno != EINTR) {
            hooks_.say("poll failed");
            failed_ = true;
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            readReports();
        }
        collectAnswers();
        if ((fds[1].revents & POLLOUT) != 0 || !outgoing_.empty()) {
            writeAnswers();
        }
        if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && !openWire()) {
            hooks_.say("the report node went away and does not open again");
            failed_ = true;
            break;
        }
        if (restartRequest_) {
            const bool boot = *restartRequest_;
            restartRequest_.reset();
            failed_ = !restart(boot) || failed_;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const Control control = hooks_.takeControl(controlFd_);
        if (control == Control::Quit) {
            break;
        }
        if (control == Control::RestartBoot || control == Control::RestartNormal) {
            failed_ = !restart(control == Control::RestartBoot) || failed_;
        } else if (control == Control::Dump) {
            failed_ = !hooks_.dump(unit_) || failed_;
        }
    }
    failed_ = !hooks_.dump(unit_) || failed_;
    return failed_ ? 1 : 0;
}

} // namespace qx::gadget
