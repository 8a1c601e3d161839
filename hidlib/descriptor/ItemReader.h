// SPDX-License-Identifier: GPL-3.0-or-later
// Splits a report descriptor into items (HID 1.11, section 6.2.2.2 short items, 6.2.2.3 long
// items). Every length is checked against the bytes left before anything is read.
#ifndef QX_HID_ITEM_READER_H
#define QX_HID_ITEM_READER_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace hid::detail {

enum class ItemType : uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3 };

struct Item {
    ItemType type = ItemType::Main;
    uint8_t tag = 0;
    uint8_t dataSize = 0; // 0, 1, 2 or 4 bytes for a short item
    uint32_t data = 0;    // little-endian, zero-extended
    bool isLong = false;  // long items carry no meaning for us and are skipped by the parser
};

enum class ReadStatus : uint8_t { Item, End, Truncated };

class ItemReader {
public:
    explicit ItemReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    // Reads the next item into `item`. End at the end of the bytes; Truncated when an item
    // claims more bytes than are left (the reader then stays at that item).
    ReadStatus next(Item& item);

    size_t offset() const { return offset_; }

private:
    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
};

} // namespace hid::detail

#endif
