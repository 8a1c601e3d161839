// SPDX-License-Identifier: GPL-3.0-or-later
// The HID library image carried inside the program, kept as a file in the user's own program
// data folder and loaded from there by full path: never from the current folder or the search
// path, where another file of the same name could be planted.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>

namespace qx {

// %LOCALAPPDATA%\qx77zt\lib, made when missing; empty when it cannot be had.
std::wstring privateLibraryFolder();

// Makes sure `folder` holds exactly `image` under a name made from its contents (replaced
// atomically when missing or different; loaders running at the same time each write their own
// temporary file), then loads that file, held open against any change until it is loaded, with
// the library's own imports taken from the system folder alone. nullptr and a reason on failure.
// The system loads a file only once per process: each copy loaded at the same time needs a
// `copy` number of its own, which gives it a file of its own.
HMODULE loadPrivateLibrary(const std::wstring& folder, std::span<const uint8_t> image,
                           std::string& error, unsigned copy = 0);

} // namespace qx
