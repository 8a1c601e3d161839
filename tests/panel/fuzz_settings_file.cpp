// SPDX-License-Identifier: GPL-3.0-or-later
// Settings file contents of any length: taken only when exactly 18 bytes within their ranges,
// then byte for byte, and never read past the end of the input.
#include "panel/SettingsFile.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so a read past the end of the input is caught.
    std::vector<uint8_t> file(data, data + size);
    const qx::panel::ParsedSettings parsed = qx::panel::parseSettingsFile(file);
    if (parsed.settings.has_value() == !parsed.problem.empty()) {
        std::abort();
    }
    if (!parsed.settings) {
        return 0;
    }
    const auto raw = qx::rawBytes(*parsed.settings);
    if (size != qx::kSettingsSize || std::memcmp(raw.data(), file.data(), size) != 0 ||
        qx::panel::settingsProblem(raw).has_value()) {
        std::abort();
    }
    return 0;
}
