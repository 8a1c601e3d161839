// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer of an update's two images to a unit in its boot loader: the block requests, their
// payloads, the progress value, and the run from the first flash block to the finish request.
//
// Plain C++ without Qt. A run blocks its caller for as long as the transfer lasts (every request
// waits until the link worker has taken it, and each flash block is followed by a pause), so the
// update window runs it on a thread of its own and shows its progress from there.
#pragma once

#include "link/LinkState.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <vector>

namespace qx {

inline constexpr std::size_t kUpdateBlockSize = 512;
// Address (2) and length (2) in front of the block data.
inline constexpr std::size_t kBlockPayloadSize = 4 + kUpdateBlockSize;
// The unit needs this long to program a flash block before it can take the next request.
inline constexpr std::chrono::milliseconds kFlashBlockPause{20};
// Block addresses are 16-bit, so an image may reach up to the end of a 64 KiB memory.
inline constexpr std::size_t kMaxImageSize = 65536;

using BlockPayload = std::array<std::uint8_t, kBlockPayloadSize>;

// Erase request payload: the block address, big-endian.
std::array<std::uint8_t, 2> erasePayload(std::uint16_t adr);

// Block write payload: address and length of `b` big-endian, then the bytes of `b`. `b` is at
// most one block; a shorter `b` is padded with 0xFF, the length field still saying 512, as the
// unit always programs whole blocks.
BlockPayload blockPayload(std::uint16_t adr, std::span<const std::uint8_t> b);

// Percentage of the bytes sent: 100 × sent / total, rounded half to even; 100 for nothing to send.
int progressPercent(std::size_t sent, std::size_t total);

struct UpdateImages {
    std::vector<std::uint8_t> flash;  // byte i goes to flash address i
    std::vector<std::uint8_t> eeprom; // byte i goes to EEPROM address i
};

enum class RunOutcome {
    Completed,    // every block and the finish request were taken as sent
    FlashFailed,  // a flash block or its erase was not sent; nothing after it was
    EepromFailed, // an EEPROM block was not sent; nothing after it was
    Stopped,      // the caller asked the run to stop; it ended between two requests
    TooLarge,     // an image does not fit 16-bit addresses; nothing was sent
    FinishFailed, // every block was sent, but the finish request was not
};

// The link's one firmware transfer. The window, a command handed to it and the window's offer to
// run an unfinished update again all start transfers on the same link; whoever takes the claim
// first runs one, and every other starter is refused until it is given back. Taking it is a single
// atomic step, made at the moment a transfer starts (after any dialog), so two starters can never
// both win. The flag is the link's own, since device changes wait for a transfer as well.
class TransferClaim {
public:
    // The claim, or nullopt when a transfer already runs on `link`.
    static std::optional<TransferClaim> take(LinkState& link);

    TransferClaim(TransferClaim&& other) noexcept;
    TransferClaim& operator=(TransferClaim&& other) noexcept;
    TransferClaim(const TransferClaim&) = delete;
    TransferClaim& operator=(const TransferClaim&) = delete;
    // Gives the transfer back.
    ~TransferClaim();

private:
    explicit TransferClaim(LinkState& link) : link_(&link) {}
    void release();

    LinkState* link_; // null once given back or moved from
};

class UpdateRun {
public:
    // Called on the run's thread after each block with the progress value (0 to 100).
    using Progress = std::function<void(int percent)>;

    explicit UpdateRun(LinkState& link, std::chrono::milliseconds flashPause = kFlashBlockPause);

    // Each posts one request, waits until the link worker has taken it and returns whether the
    // library accepted the frame's last report. The unit's own reply is not awaited.
    bool set_erase(std::uint16_t adr, std::stop_token stop = {});
    // Erases first when `adr` starts a block (the erase's result is ignored: the write decides),
    // then writes, then pauses while the unit programs the block.
    bool write_flash(std::uint16_t adr, std::span<const std::uint8_t> b, std::stop_token stop = {});
    bool write_eep(std::uint16_t adr, std::span<const std::uint8_t> b, std::stop_token stop = {});

    // Sends the flash image block by block, then the EEPROM image, then posts the finish request
    // without waiting. Ends at the first block that is not sent.
    RunOutcome run(const UpdateImages& images, const Progress& progress = {},
                   std::stop_token stop = {});

private:
    // Posts and waits until taken; nullopt when `stop` was requested first.
    std::optional<bool> postAndWait(std::uint8_t command, std::span<const std::uint8_t> payload,
                                    std::stop_token stop);

    LinkState& link_;
    std::chrono::milliseconds flashPause_;
};

} // namespace qx
