// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReportLengths.h"

#include <algorithm>
#include <limits>

namespace hid::detail {

namespace {

constexpr uint64_t kReportIdBits = 8;

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

} // namespace

ReportLengths::ReportLengths() {
    touched_.reserve(16);
}

void ReportLengths::addItem(ReportType type, uint8_t reportId, uint64_t bits) {
    uint64_t& counter = bits_[slot(type, reportId)];
    if (counter == 0) {
        counter = kReportIdBits;
        touched_.push_back(static_cast<uint16_t>(slot(type, reportId)));
    }
    counter = saturatingAdd(counter, bits);
    uint64_t& longest = longestBits_[static_cast<size_t>(type)];
    longest = std::max(longest, counter);
}

void ReportLengths::startCollection() {
    for (uint16_t s : touched_) {
        bits_[s] = 0;
    }
    touched_.clear();
}

uint16_t ReportLengths::byteLength(ReportType type) const {
    const uint64_t bits = longestBits_[static_cast<size_t>(type)];
    const uint64_t bytes = bits / 8 + (bits % 8 != 0 ? 1 : 0);
    return static_cast<uint16_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint16_t>::max()));
}

} // namespace hid::detail
