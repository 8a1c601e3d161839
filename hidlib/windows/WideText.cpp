// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/windows/WideText.h"

#include <windows.h>

namespace hid {

std::string toUtf8(std::wstring_view text) {
    if (const size_t nul = text.find(L'\0'); nul != std::wstring_view::npos)
        text = text.substr(0, nul);
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring toWide(std::string_view text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (chars <= 0)
        return {};
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), chars);
    return out;
}

} // namespace hid
