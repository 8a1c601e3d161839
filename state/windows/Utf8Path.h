// Paths travel through the program as UTF-8 text; Windows names files in UTF-16.
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
