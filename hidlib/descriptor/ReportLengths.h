// SPDX-License-Identifier: GPL-3.0-or-later
// Report lengths as the other platform's HID parser computes them (HidP_GetCaps).
//
// Each report type and Report ID has a bit counter that starts at 8 for the ID byte, which is
// counted even when the device numbers no reports. Every main item of that type adds Report Size
// x Report Count bits, padding included. A type's length is the largest counter over its IDs,
// rounded up to bytes; 0 when the type has no main item. That parser handles each top-level
// collection on its own, while a hidraw node carries them all, so the counters restart at each
// top-level collection and the lengths are the maximum over the collections.
#ifndef QX_HID_REPORT_LENGTHS_H
#define QX_HID_REPORT_LENGTHS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hid::detail {

enum class ReportType : uint8_t { Input = 0, Output = 1, Feature = 2 };
inline constexpr int kReportTypeCount = 3;

class ReportLengths {
public:
    ReportLengths();

    // Adds one main item of `bits` bits to report `reportId` of `type`.
    void addItem(ReportType type, uint8_t reportId, uint64_t bits);
    // A new top-level collection starts: its reports are measured from scratch.
    void startCollection();
    // Longest report of `type` over all collections so far, in bytes (saturated at 0xFFFF).
    uint16_t byteLength(ReportType type) const;

private:
    static constexpr int kIds = 256;
    static size_t slot(ReportType type, uint8_t reportId) {
        return static_cast<size_t>(type) * kIds + reportId;
    }

    std::array<uint64_t, kReportTypeCount * kIds> bits_{}; // 0: no item yet in this collection
    std::vector<uint16_t> touched_; // slots used in this collection, so restarting is cheap
    std::array<uint64_t, kReportTypeCount> longestBits_{};
};

} // namespace hid::detail

#endif
