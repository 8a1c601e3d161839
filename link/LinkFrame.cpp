// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinkFrame.h"

#include "link/crc.h"

#include <algorithm>

namespace qx {

BuiltFrame buildFrame(uint8_t command, std::span<const uint8_t> payload) {
    BuiltFrame frame;
    if (payload.size() > kMaxFramePayload) {
        frame.error = "Message too long: a payload of " + std::to_string(payload.size()) +
                      " bytes exceeds the limit of " + std::to_string(kMaxFramePayload) + " bytes.";
        return frame;
    }
    const std::size_t n = payload.size();
    frame.bytes.resize(n + kFrameOverhead);
    frame.bytes[0] = command;
    frame.bytes[1] = static_cast<uint8_t>(n >> 8);
    frame.bytes[2] = static_cast<uint8_t>(n & 0xFF);
    std::copy(payload.begin(), payload.end(), frame.bytes.begin() + 3);
    const uint16_t crc = crc16(std::span<const uint8_t>(frame.bytes.data(), n + 3));
    frame.bytes[n + 3] = static_cast<uint8_t>(crc >> 8);
    frame.bytes[n + 4] = static_cast<uint8_t>(crc & 0xFF);
    return frame;
}

bool frameLengthFits(std::span<const uint8_t> buffer) {
    if (buffer.size() < kFrameOverhead) {
        return false;
    }
    const std::size_t n = (std::size_t{buffer[1]} << 8) | buffer[2];
    return n + kFrameOverhead <= buffer.size();
}

std::optional<FrameView> checkFrame(std::span<const uint8_t> buffer) {
    if (!frameLengthFits(buffer)) {
        return std::nullopt;
    }
    const std::size_t n = (std::size_t{buffer[1]} << 8) | buffer[2];
    const uint16_t expected = static_cast<uint16_t>((buffer[n + 3] << 8) | buffer[n + 4]);
    if (crc16(buffer.first(n + 3)) != expected) {
        return std::nullopt;
    }
    return FrameView{buffer[0], buffer.subspan(3, n)};
}

} // namespace qx
