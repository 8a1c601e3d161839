// SPDX-License-Identifier: GPL-3.0-or-later
// Update journal files of any content: parsed without reading past the end, and every journal
// accepted reads back the same after it is written again.
#include "state/UpdateJournal.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size); // exact size: overreads are caught
    const qx::state::JournalParse parsed = qx::state::parseJournal(file);
    if (!parsed.ok) {
        return 0;
    }
    const std::string again = qx::state::formatJournal(parsed.entries);
    const qx::state::JournalParse reread = qx::state::parseJournal(
        std::span(reinterpret_cast<const uint8_t*>(again.data()), again.size()));
    if (!reread.ok || reread.entries != parsed.entries) {
        std::abort();
    }
    return 0;
}
