// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/core/DeviceTable.h"

#include <algorithm>
#include <cstring>

namespace hid {

namespace {

uint8_t lengthMinusOne(uint16_t length) {
    return length == 0 ? 0 : static_cast<uint8_t>(length - 1);
}

} // namespace

void setString(THIDstring& out, std::string_view text) {
    size_t n = std::min<size_t>(text.size(), sizeof out.text);
    if (n < text.size()) {
        // Back off over UTF-8 continuation bytes so a cut never leaves half a character.
        while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memset(out.text, 0, sizeof out.text);
    std::memcpy(out.text, text.data(), n);
    out.length = static_cast<uint8_t>(n);
}

std::string_view stringView(const THIDstring& s) {
    return {s.text, s.length};
}

void resetSlot(THIDdeviceInfo& slot) {
    const uint8_t readWrite = slot.readWrite;
    std::memset(&slot, 0, sizeof slot);
    slot.handle = -1;
    slot.readWrite = readWrite;
}

void fillCapTable(CapTable& table, const ReportTypeCaps& caps) {
    std::memset(table, 0, sizeof(CapTable));
    table[0].bitSize = 8;
    table[0].reportCount = lengthMinusOne(caps.byteLength);
    const size_t n = std::min(caps.valueCaps.size(), kCapEntries);
    for (size_t i = 0; i < n; ++i) {
        const ValueCap& c = caps.valueCaps[i];
        table[i].usage = c.usage;
        table[i].reportId = c.reportId;
        table[i].bitSize = static_cast<uint8_t>(c.bitSize);
        table[i].reportCount = static_cast<uint8_t>(c.reportCount);
    }
    // A report described as one repeated field counts all its data bytes.
    if (caps.valueCaps.size() == 1 && table[0].reportCount == 1)
        table[0].reportCount = lengthMinusOne(caps.byteLength);
}

THIDdeviceInfo makeSlot(const DeviceRecord& record) {
    THIDdeviceInfo slot;
    std::memset(&slot, 0, sizeof slot);
    slot.handle = -1;
    std::string path = record.path;
    path.push_back('\0');
    setString(slot.path, path);
    slot.readWrite = record.readWrite ? 1 : 0;
    slot.vendorId = record.vendorId;
    slot.productId = record.productId;
    slot.releaseNumber = record.releaseNumber;
    setString(slot.manufacturer, record.manufacturer.value_or(std::string()));
    setString(slot.product, record.product.value_or(std::string()));
    setString(slot.serial, record.serial.value_or(std::string("---")));
    if (record.caps) {
        slot.outputReportLength = record.caps->output.byteLength;
        slot.inputReportLength = record.caps->input.byteLength;
        slot.featureReportLength = record.caps->feature.byteLength;
        fillCapTable(slot.outputCaps, record.caps->output);
        fillCapTable(slot.inputCaps, record.caps->input);
        fillCapTable(slot.featureCaps, record.caps->feature);
    }
    return slot;
}

bool isListed(const THIDdeviceInfo& slot) {
    return slot.vendorId != 0 && slot.productId != 0;
}

uint8_t elementCount(const CapTable& table, uint16_t reportLength, uint8_t reportId) {
    uint8_t sum = 0;
    for (const THIDvalueCap& cap : table) {
        if (cap.reportId == reportId)
            sum = static_cast<uint8_t>(sum + cap.reportCount);
    }
    return sum != 0 ? sum : lengthMinusOne(reportLength);
}

} // namespace hid
