// SPDX-License-Identifier: GPL-3.0-or-later
// HID report-descriptor parser (HID 1.11, section 6.2.2).
//
// Computes, from the raw descriptor a hidraw node exposes, the figures the library publishes for
// each device: the longest report of each type with its report ID byte, and the value
// capabilities of each type in the order an application sees them on the other supported
// platform. No Qt, no operating-system headers: the parser is a pure function of its bytes.
#ifndef QX_HID_REPORT_DESCRIPTOR_H
#define QX_HID_REPORT_DESCRIPTOR_H

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace hid {

// One value capability: a Variable main item field whose Report Size is not 1.
struct ValueCap {
    uint16_t usagePage = 0;
    uint16_t usage = 0;    // the usage, or the first usage of a range
    uint16_t usageMax = 0; // the last usage of a range; equal to usage for a single usage
    bool isRange = false;
    uint8_t reportId = 0;     // 0 when the descriptor declares no Report ID
    uint16_t bitSize = 0;     // Report Size, saturated at 0xFFFF
    uint16_t reportCount = 0; // fields this capability covers, saturated at 0xFFFF

    friend bool operator==(const ValueCap&, const ValueCap&) = default;
};

struct ReportTypeCaps {
    // Longest report of this type in bytes, report ID byte included (counted even when the device
    // numbers no reports); 0 when the type has no main items at all. Saturated at 0xFFFF.
    uint16_t byteLength = 0;
    // Every value capability of this type, in descriptor order with each item's usages reversed.
    std::vector<ValueCap> valueCaps;
};

struct DescriptorCaps {
    ReportTypeCaps input, output, feature;
    // True when the descriptor declares any Report ID: hidraw reports then start with the ID byte.
    bool numberedReports = false;
};

// Parses a report descriptor. Returns nullopt only when the bytes cannot be a descriptor (an item
// runs past the end); anything else odd but readable is accepted, as the operating system does.
std::optional<DescriptorCaps> parseReportDescriptor(std::span<const uint8_t> bytes);

} // namespace hid

#endif
