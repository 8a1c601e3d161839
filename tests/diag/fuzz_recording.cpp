// SPDX-License-Identifier: GPL-3.0-or-later
// A recording comes from someone's desk: the reader must refuse, never misread, whatever it gets,
// and what it accepts must read back the same once written out again.
#include "diag/TrafficRecording.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qx::ParsedRecording parsed = qx::parseRecording(text);
    if (!parsed.recording) {
        return 0;
    }
    std::string again = qx::formatRecordingHeader(parsed.recording->header);
    for (const qx::RecordedReport& r : parsed.recording->reports) {
        again += qx::formatRecordedReport(r);
    }
    if (parsed.recording->dropped > 0) {
        again += qx::formatDroppedLine(parsed.recording->dropped);
    }
    const qx::ParsedRecording reread = qx::parseRecording(again);
    if (!reread.recording || reread.recording->reports.size() != parsed.recording->reports.size() ||
        reread.recording->dropped != parsed.recording->dropped) {
        std::abort();
    }
    return 0;
}
