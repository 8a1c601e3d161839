// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/linux/SysfsValues.h"

namespace hid {

namespace {

// One hexadecimal field of 1 to `maxDigits` digits that must fit in 16 bits.
std::optional<uint16_t> parseHexField(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (const char c : text) {
        uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * 16 + digit;
        if (value > 0xFFFF)
            return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

} // namespace

std::optional<HidId> parseHidId(std::string_view text) {
    const size_t first = text.find(':');
    if (first == std::string_view::npos)
        return std::nullopt;
    const size_t second = text.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto bus = parseHexField(text.substr(0, first), 8);
    const auto vendor = parseHexField(text.substr(first + 1, second - first - 1), 8);
    const auto product = parseHexField(text.substr(second + 1), 8);
    if (!bus || !vendor || !product)
        return std::nullopt;
    return HidId{*bus, *vendor, *product};
}

std::optional<uint16_t> parseHex16(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.remove_suffix(1);
    return parseHexField(text, 4);
}

} // namespace hid
