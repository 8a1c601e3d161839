// SPDX-License-Identifier: GPL-3.0-or-later
// The HID library image the program carries as its resource "HID".
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace qx {

std::optional<std::vector<uint8_t>> embeddedHidImage();

} // namespace qx
