// SPDX-License-Identifier: GPL-3.0-or-later
// Alarm config files of any content: parsed without reading past the end, every value accepted
// within its bounds, and every file accepted reads back the same once written again.
#include "watch/AlarmConfig.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size); // exact size
    const qx::watch::ConfigParse parsed = qx::watch::parseAlarmConfig(file);
    if (!parsed.settings) {
        if (parsed.error.empty()) {
            std::abort();
        }
        return 0;
    }
    const qx::watch::AlarmSettings& s = *parsed.settings;
    if (!(s.rules.silenceLevelDb >= qx::watch::kLowestLevelDb &&
          s.rules.silenceLevelDb <= qx::watch::kHighestLevelDb) ||
        !qx::watch::commandLimitProblem(s.actions.commandLimit).empty()) {
        std::abort();
    }
    const std::string again = qx::watch::formatAlarmConfig(s);
    const qx::watch::ConfigParse reread = qx::watch::parseAlarmConfig(again);
    if (!reread.settings || *reread.settings != s) {
        std::abort();
    }
    return 0;
}
