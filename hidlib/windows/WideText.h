// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions between the system's UTF-16 text and the UTF-8 the library keeps.
#ifndef QX_HID_WINDOWS_WIDETEXT_H
#define QX_HID_WINDOWS_WIDETEXT_H

#include <string>
#include <string_view>

namespace hid {

// Stops at the first NUL; invalid sequences become replacement characters.
std::string toUtf8(std::wstring_view text);
std::wstring toWide(std::string_view text);

} // namespace hid

#endif
