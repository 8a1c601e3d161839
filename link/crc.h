// SPDX-License-Identifier: GPL-3.0-or-later
// CRC-16/MODBUS and the byte-order helper used by the link's frames and report headers.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qx {

namespace detail {
// Entry i is the reflected CRC of the single byte i under polynomial 0xA001.
constexpr std::array<uint16_t, 256> makeCrc16Table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(crc >> 1);
        }
        table[i] = crc;
    }
    return table;
}
} // namespace detail

inline constexpr std::array<uint16_t, 256> kCrc16Table = detail::makeCrc16Table();
static_assert(kCrc16Table[1] == 0xC0C1 && kCrc16Table[128] == 0xA001);

// CRC of the first `count` bytes: initial 0xFFFF, reflected, no final XOR. A count of zero or
// less gives 0xFFFF.
uint16_t crc16(const uint8_t* bytes, int count);

inline uint16_t crc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc = static_cast<uint16_t>(kCrc16Table[(b ^ crc) & 0xFFu] ^ (crc >> 8));
    }
    return crc;
}

// Reverses the byte order of a 16-, 32- or 64-bit value; any other width yields the value's low
// byte unchanged.
constexpr uint64_t toBigEndian(uint64_t value, int widthBits) {
    int bytes = 0;
    switch (widthBits) {
    case 16:
        bytes = 2;
        break;
    case 32:
        bytes = 4;
        break;
    case 64:
        bytes = 8;
        break;
    default:
        return value & 0xFFu;
    }
    uint64_t out = 0;
    for (int i = 0; i < bytes; ++i) {
        out = (out << 8) | ((value >> (8 * i)) & 0xFFu);
    }
    return out;
}

constexpr uint16_t toBigEndian16(uint16_t value) {
    return static_cast<uint16_t>(toBigEndian(value, 16));
}

} // namespace qx
