// SPDX-License-Identifier: GPL-3.0-or-later
// Just enough JSON for one-line answers: quoted strings with the escapes the format requires.
#pragma once

#include <string>
#include <string_view>

namespace qx::cli {

inline std::string jsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

} // namespace qx::cli
