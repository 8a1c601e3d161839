// SPDX-License-Identifier: GPL-3.0-or-later
// Rules that turn device records into table slots and count report elements. Pure functions:
// no state, no locking.
#ifndef QX_HID_CORE_DEVICETABLE_H
#define QX_HID_CORE_DEVICETABLE_H

#include "hidlib/HID_Lib.h"
#include "hidlib/core/Backend.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace hid {

inline constexpr size_t kTableSlots = 32;
inline constexpr size_t kCapEntries = 10;

using CapTable = THIDvalueCap[kCapEntries];

// Stores text as a length-prefixed string, cut at 255 bytes (never inside a UTF-8 sequence).
void setString(THIDstring& out, std::string_view text);
std::string_view stringView(const THIDstring& s);

// Empties a slot. Its readWrite byte is kept, as the table has always done.
void resetSlot(THIDdeviceInfo& slot);

// Builds the ten-entry table of one report type from its descriptor summary.
void fillCapTable(CapTable& table, const ReportTypeCaps& caps);

// Turns one enumerated device into a slot with handle -1.
THIDdeviceInfo makeSlot(const DeviceRecord& record);

// Whether a device is listed: both identifiers non-zero.
bool isListed(const THIDdeviceInfo& slot);

// Element count of the report `reportId` of one type: the summed report counts of the entries
// with that ID (8-bit), or the report length minus one when they add up to nothing. A type
// without reports (length 0) counts 0 rather than wrapping round to 255.
uint8_t elementCount(const CapTable& table, uint16_t reportLength, uint8_t reportId);

} // namespace hid

#endif
