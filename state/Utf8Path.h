// SPDX-License-Identifier: GPL-3.0-or-later
// Paths travel through the program as UTF-8 text. On Windows, where files are named in UTF-16, a
// path made from a plain std::string (or its string()) takes each byte for a character of its
// own; these keep UTF-8 text UTF-8 on every system.
#pragma once

#include <filesystem>
#include <string>

namespace qx {

inline std::filesystem::path utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace qx
