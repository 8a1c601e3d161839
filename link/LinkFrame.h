// SPDX-License-Identifier: GPL-3.0-or-later
// The message frame exchanged with the unit in both directions:
//   command (1) | payload length N, big-endian (2) | payload (N) | CRC-16, high byte first (2)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx {

inline constexpr std::size_t kFrameOverhead = 5;
// The whole frame must fit the 16-bit total of a transfer report.
inline constexpr std::size_t kMaxFramePayload = 65530;

struct BuiltFrame {
    std::vector<uint8_t> bytes; // empty when refused
    std::string error;          // why the frame was refused; empty on success
    bool ok() const { return error.empty(); }
};

// Builds a frame in a fresh buffer. A payload over kMaxFramePayload is refused, never truncated.
BuiltFrame buildFrame(uint8_t command, std::span<const uint8_t> payload);

struct FrameView {
    uint8_t command = 0;
    std::span<const uint8_t> payload;
};

// Checks the frame at the start of `buffer` (which may hold trailing bytes after it): the length
// field and both CRC bytes must lie inside the buffer and the CRC must match exactly.
std::optional<FrameView> checkFrame(std::span<const uint8_t> buffer);
// The length field and both CRC bytes lie inside `buffer` (so a refusal by checkFrame is the
// CRC's).
bool frameLengthFits(std::span<const uint8_t> buffer);

} // namespace qx
