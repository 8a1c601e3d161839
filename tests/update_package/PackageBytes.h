// SPDX-License-Identifier: GPL-3.0-or-later
// Hand-made package bytes for the reader tests: a header and records laid out field by field, so
// that a test can cut or bend any of them.
#ifndef QX_TESTS_PACKAGE_BYTES_H
#define QX_TESTS_PACKAGE_BYTES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qx::test {

using Bytes = std::vector<std::uint8_t>;

// A data block of `n` bytes counting up from `first`.
inline Bytes pattern(std::size_t n, std::uint8_t first = 1) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(first + i);
    }
    return out;
}

// Header length H followed by the text; H is text + 2 unless given.
inline Bytes header(std::string_view text, int length = -1) {
    const std::size_t h = length < 0 ? text.size() + 2 : static_cast<std::size_t>(length);
    Bytes out(text.size() + 2);
    out[0] = static_cast<std::uint8_t>(h >> 8);
    out[1] = static_cast<std::uint8_t>(h);
    std::copy(text.begin(), text.end(), out.begin() + 2);
    return out;
}

// One record: length L, four filler bytes, kind, `data` as given (which may be shorter or longer
// than L says) and `trailing` bytes after it.
inline Bytes record(std::size_t length, std::uint8_t kind, const Bytes& data,
                    std::size_t trailing = 2) {
    Bytes out{static_cast<std::uint8_t>(length >> 8),
              static_cast<std::uint8_t>(length),
              0xA1,
              0xA2,
              0xA3,
              0xA4,
              kind};
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), trailing, 0xEE);
    return out;
}

// A record whose length field matches its data.
inline Bytes record(std::uint8_t kind, const Bytes& data, std::size_t trailing = 2) {
    return record(data.size(), kind, data, trailing);
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

inline Bytes repeat(const Bytes& part, std::size_t times) {
    Bytes out;
    for (std::size_t i = 0; i < times; ++i) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace qx::test

#endif
