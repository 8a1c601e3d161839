// SPDX-License-Identifier: GPL-3.0-or-later
// Unit label files of any content: parsed without reading past the end, every record accepted
// is one the program would keep, and every file accepted reads back the same after it is
// written again.
#include "state/UnitLabels.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size); // exact size: overreads are caught
    const qx::state::LabelsParse parsed = qx::state::parseUnitLabels(file);
    if (!parsed.ok) {
        return 0;
    }
    for (const qx::state::UnitLabel& r : parsed.records) {
        if (!qx::state::recordProblem(r).empty()) {
            std::abort();
        }
    }
    const std::string again = qx::state::formatUnitLabels(parsed.records);
    const qx::state::LabelsParse reread = qx::state::parseUnitLabels(
        std::span(reinterpret_cast<const uint8_t*>(again.data()), again.size()));
    if (!reread.ok || reread.records != parsed.records) {
        std::abort();
    }
    return 0;
}
