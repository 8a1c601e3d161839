// SPDX-License-Identifier: GPL-3.0-or-later
// Watch state files of any content: parsed without reading past the end, and every file accepted
// reads back the same once written again.
#include "watch/WatchState.h"

#include <cstdlib>
#include <span>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size); // exact size: overreads are caught
    const qx::watch::WatchStateParse parsed = qx::watch::parseWatchState(file);
    if (!parsed.ok) {
        return 0;
    }
    const std::string again = qx::watch::formatWatchState(parsed.alarms);
    const qx::watch::WatchStateParse reread = qx::watch::parseWatchState(
        std::span(reinterpret_cast<const uint8_t*>(again.data()), again.size()));
    if (!reread.ok || reread.alarms != parsed.alarms) {
        std::abort();
    }
    return 0;
}
