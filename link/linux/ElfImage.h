// SPDX-License-Identifier: GPL-3.0-or-later
// A structural check of a shared-object image before the loader maps it: every header and
// loadable segment must lie inside the image, so a cut or damaged image is refused instead of
// being mapped past its end (which would fault only when the code runs).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qx {

// Empty when the image looks loadable on this machine; otherwise what is wrong with it.
std::string checkElfImage(std::span<const uint8_t> image);

// The image's GNU build id in lower-case hex (what debuggers and debug-symbol folders key on),
// read from its note segments; empty when it has none or the notes do not fit the image.
std::string elfBuildId(std::span<const uint8_t> image);

} // namespace qx
