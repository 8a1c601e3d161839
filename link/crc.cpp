// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/crc.h"

namespace qx {

uint16_t crc16(const uint8_t* bytes, int count) {
    if (bytes == nullptr || count <= 0) {
        return 0xFFFF;
    }
    return crc16(std::span<const uint8_t>(bytes, static_cast<std::size_t>(count)));
}

} // namespace qx
