// SPDX-License-Identifier: GPL-3.0-or-later
#include "ItemReader.h"

namespace hid::detail {

namespace {

constexpr uint8_t kLongItemPrefix = 0xFE;

} // namespace

ReadStatus ItemReader::next(Item& item) {
    const size_t left = bytes_.size() - offset_;
    if (left == 0) {
        return ReadStatus::End;
    }
    const uint8_t prefix = bytes_[offset_];

    if (prefix == kLongItemPrefix) {
        // 6.2.2.3: prefix, bDataSize, bLongItemTag, then bDataSize bytes of data.
        if (left < 3 || left - 3 < bytes_[offset_ + 1]) {
            return ReadStatus::Truncated;
        }
        item = Item{};
        item.type = ItemType::Reserved;
        item.tag = bytes_[offset_ + 2];
        item.isLong = true;
        offset_ += 3 + size_t{bytes_[offset_ + 1]};
        return ReadStatus::Item;
    }

    // 6.2.2.2: bSize 3 means four data bytes.
    static constexpr uint8_t kSizes[4] = {0, 1, 2, 4};
    const uint8_t size = kSizes[prefix & 0x03];
    if (left - 1 < size) {
        return ReadStatus::Truncated;
    }
    item = Item{};
    item.type = static_cast<ItemType>((prefix >> 2) & 0x03);
    item.tag = static_cast<uint8_t>(prefix >> 4);
    item.dataSize = size;
    for (uint8_t i = 0; i < size; ++i) {
        item.data |= uint32_t{bytes_[offset_ + 1 + i]} << (8 * i);
    }
    offset_ += 1 + size_t{size};
    return ReadStatus::Item;
}

} // namespace hid::detail
