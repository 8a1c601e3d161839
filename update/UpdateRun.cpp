// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/UpdateRun.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace qx {

namespace {

// How often a waiting request looks at the stop request; the link wakes it sooner when taken.
constexpr std::chrono::milliseconds kStopPoll{50};

void putBe16(std::uint8_t* p, std::size_t v) {
    p[0] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    p[1] = static_cast<std::uint8_t>(v & 0xFF);
}

// Sleeps for `pause` unless `stop` is requested first; false when stopped. Looks at the stop
// between short sleeps rather than through a stop callback: the Windows build's C++ library can
// leave a waiter whose stop callback is running on another thread asleep for good.
bool pauseFor(std::chrono::milliseconds pause, std::stop_token stop) {
    const auto end = std::chrono::steady_clock::now() + pause;
    while (!stop.stop_requested()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return true;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kStopPoll));
    }
    return false;
}

} // namespace

std::optional<TransferClaim> TransferClaim::take(LinkState& link) {
    bool idle = false;
    if (!link.transferRunning.compare_exchange_strong(idle, true)) {
        return std::nullopt;
    }
    return TransferClaim(link);
}

TransferClaim::TransferClaim(TransferClaim&& other) noexcept
    : link_(std::exchange(other.link_, nullptr)) {}

TransferClaim& TransferClaim::operator=(TransferClaim&& other) noexcept {
    if (this != &other) {
        release();
        link_ = std::exchange(other.link_, nullptr);
    }
    return *this;
}

TransferClaim::~TransferClaim() {
    release();
}

void TransferClaim::release() {
    if (link_ != nullptr) {
        link_->transferRunning = false;
        link_ = nullptr;
    }
}

std::array<std::uint8_t, 2> erasePayload(std::uint16_t adr) {
    std::array<std::uint8_t, 2> out{};
    putBe16(out.data(), adr);
    return out;
}

BlockPayload blockPayload(std::uint16_t adr, std::span<const std::uint8_t> b) {
    BlockPayload out;
    out.fill(0xFF);
    putBe16(&out[0], adr);
    putBe16(&out[2], kUpdateBlockSize);
    std::copy_n(b.begin(), std::min(b.size(), kUpdateBlockSize), out.begin() + 4);
    return out;
}

int progressPercent(std::size_t sent, std::size_t total) {
    if (total == 0) {
        return 100;
    }
    // The quotient first, then the percentage; nearbyint rounds halves to even.
    const double q = static_cast<double>(sent) / static_cast<double>(total);
    return static_cast<int>(std::nearbyint(q * 100.0));
}

UpdateRun::UpdateRun(LinkState& link, std::chrono::milliseconds flashPause)
    : link_(link), flashPause_(flashPause) {}

std::optional<bool> UpdateRun::postAndWait(std::uint8_t command,
                                           std::span<const std::uint8_t> payload,
                                           std::stop_token stop) {
    const LinkState::Ticket ticket = link_.post(command, payload);
    for (;;) {
        if (const auto result = link_.waitTaken(ticket, kStopPoll)) {
            return result;
        }
        if (stop.stop_requested()) {
            return std::nullopt;
        }
    }
}

bool UpdateRun::set_erase(std::uint16_t adr, std::stop_token stop) {
    const auto payload = erasePayload(adr);
    return postAndWait(cmd::kErase, payload, stop).value_or(false);
}

bool UpdateRun::write_flash(std::uint16_t adr, std::span<const std::uint8_t> b,
                            std::stop_token stop) {
    // A block written over flash that was not erased holds old and new bits together: a refused
    // erase ends the run instead.
    if (adr % kUpdateBlockSize == 0 && !set_erase(adr, stop)) {
        return false;
    }
    const BlockPayload payload = blockPayload(adr, b);
    const bool sent = postAndWait(cmd::kWriteFlash, payload, stop).value_or(false);
    pauseFor(flashPause_, stop);
    return sent;
}

bool UpdateRun::write_eep(std::uint16_t adr, std::span<const std::uint8_t> b,
                          std::stop_token stop) {
    const BlockPayload payload = blockPayload(adr, b);
    return postAndWait(cmd::kWriteEeprom, payload, stop).value_or(false);
}

RunOutcome UpdateRun::run(const UpdateImages& images, const Progress& progress,
                          std::stop_token stop) {
    if (images.flash.size() > kMaxImageSize || images.eeprom.size() > kMaxImageSize) {
        return RunOutcome::TooLarge; // its addresses would wrap onto the first blocks
    }
    const std::size_t total = images.flash.size() + images.eeprom.size();
    std::size_t sent = 0;

    struct Phase {
        const std::vector<std::uint8_t>& image;
        bool flash;
    };
    for (const Phase phase : {Phase{images.flash, true}, Phase{images.eeprom, false}}) {
        const std::span<const std::uint8_t> image(phase.image);
        for (std::size_t offset = 0; offset < image.size(); offset += kUpdateBlockSize) {
            if (stop.stop_requested()) {
                return RunOutcome::Stopped;
            }
            const auto block =
                image.subspan(offset, std::min(kUpdateBlockSize, image.size() - offset));
            const auto adr = static_cast<std::uint16_t>(offset);
            const bool ok =
                phase.flash ? write_flash(adr, block, stop) : write_eep(adr, block, stop);
            if (stop.stop_requested()) {
                return RunOutcome::Stopped;
            }
            if (!ok) {
                return phase.flash ? RunOutcome::FlashFailed : RunOutcome::EepromFailed;
            }
            sent += block.size();
            if (progress) {
                progress(progressPercent(sent, total));
            }
        }
    }
    // Success only once the finish has really gone out: without it the unit keeps waiting in its
    // boot loader.
    const std::optional<bool> finished = postAndWait(cmd::kFinish, {}, stop);
    if (!finished) {
        return RunOutcome::Stopped;
    }
    return *finished ? RunOutcome::Completed : RunOutcome::FinishFailed;
}

} // namespace qx
