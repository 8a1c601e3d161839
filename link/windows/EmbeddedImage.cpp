// SPDX-License-Identifier: GPL-3.0-or-later
// The carried HID library: the program's RCDATA resource "HID".
#include "link/EmbeddedImage.h"

#include <windows.h>

namespace qx {

std::optional<std::vector<uint8_t>> embeddedHidImage() {
    const HRSRC found = FindResourceW(nullptr, L"HID", MAKEINTRESOURCEW(10)); // RT_RCDATA
    const HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const auto* bytes =
        loaded != nullptr ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (bytes == nullptr) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(nullptr, found));
}

} // namespace qx
