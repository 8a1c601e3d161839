// SPDX-License-Identifier: GPL-3.0-or-later
// Event log lines of any content: parsed without reading past the end, and every line accepted
// is written again as a line that reads back the same (times to the millisecond, which is what
// the log keeps).
#include "eventlog/EventJson.h"
#include "eventlog/EventTime.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

bool sameNumbers(const qx::watch::Event& a, const qx::watch::Event& b) {
    if (a.numbers.size() != b.numbers.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.numbers.size(); ++i) {
        const auto& [ka, va] = a.numbers[i];
        const auto& [kb, vb] = b.numbers[i];
        if (ka != kb || (std::isnan(va) != std::isnan(vb)) || (!std::isnan(va) && va != vb)) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> bytes(data, data + size); // exact size: overreads are caught
    const std::optional<qx::watch::Event> parsed =
        qx::eventlog::parseEventLine(std::string_view(bytes.data(), bytes.size()));
    if (!parsed) {
        return 0;
    }
    if (parsed->kind.empty()) {
        std::abort();
    }
    const std::string again = qx::eventlog::formatEventLine(*parsed);
    if (again.find('\n') != std::string::npos || again.size() >= qx::eventlog::kMaxLineBytes) {
        std::abort();
    }
    const std::optional<qx::watch::Event> reread = qx::eventlog::parseEventLine(again);
    if (!reread) {
        std::abort();
    }
    // A line near the limit may grow when written again ("1e5" is "100000") and lose fields.
    if (again.size() + 1024 > qx::eventlog::kMaxLineBytes) {
        return 0;
    }
    const auto ms = [](qx::eventlog::TimePoint t) {
        return std::chrono::floor<std::chrono::milliseconds>(t);
    };
    if (ms(reread->time) != ms(parsed->time) || reread->kind != parsed->kind ||
        reread->serial != parsed->serial || reread->unit != parsed->unit ||
        reread->texts != parsed->texts || !sameNumbers(*reread, *parsed)) {
        std::abort();
    }
    return 0;
}
