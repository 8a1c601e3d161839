// SPDX-License-Identifier: GPL-3.0-or-later
// Remembered-settings files of any content: parsed without reading past the end, and every file
// accepted reads back the same after it is written again.
#include "state/SettingsMemory.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size); // exact size: overreads are caught
    const qx::state::SettingsParse parsed = qx::state::parseSettingsMemory(file);
    if (!parsed.ok) {
        return 0;
    }
    const std::string again = qx::state::formatSettingsMemory(parsed.units);
    const qx::state::SettingsParse reread = qx::state::parseSettingsMemory(
        std::span(reinterpret_cast<const uint8_t*>(again.data()), again.size()));
    if (!reread.ok || reread.units != parsed.units) {
        std::abort();
    }
    return 0;
}
