// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the report-descriptor parser. Descriptors come from whatever device is
// plugged in, so any byte string must parse (or be refused) without reading out of bounds,
// hanging or allocating without bound. Every item is consumed once; the Push stack is bounded in
// the parser; each value capability needs a usage item of its own, which the checks below hold.
#include "hidlib/descriptor/ReportDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void checkType(const hid::ReportTypeCaps& type) {
    if (!type.valueCaps.empty()) {
        check(type.byteLength >= 1);
    }
    for (const hid::ValueCap& cap : type.valueCaps) {
        check(cap.isRange || cap.usage == cap.usageMax);
        check(cap.isRange ? cap.reportCount == 1 : cap.reportCount >= 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exactly sized heap copy, so that AddressSanitizer sees any read past the end.
    auto copy = std::make_unique<uint8_t[]>(size);
    for (size_t i = 0; i < size; ++i) {
        copy[i] = data[i];
    }
    const auto caps = hid::parseReportDescriptor(std::span<const uint8_t>(copy.get(), size));
    if (!caps) {
        return 0;
    }
    checkType(caps->input);
    checkType(caps->output);
    checkType(caps->feature);
    const size_t total = caps->input.valueCaps.size() + caps->output.valueCaps.size() +
                         caps->feature.valueCaps.size();
    check(total <= size);
    return 0;
}
