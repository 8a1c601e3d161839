// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/mkorbu/PackageWriter.h"

#include "update/UpdatePackage.h"

#include <algorithm>

namespace qx {

namespace {

// Kind of the filler record of a package without data: any kind but flash or EEPROM is skipped.
constexpr std::uint8_t kKindFiller = 0xFF;

void putU16(std::vector<std::uint8_t>& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void putRecord(std::vector<std::uint8_t>& out, std::uint8_t kind, std::uint32_t address,
               std::span<const std::uint8_t> data) {
    putU16(out, data.size());
    putU16(out, address >> 16);
    putU16(out, address & 0xFFFF);
    out.push_back(kind);
    out.insert(out.end(), data.begin(), data.end());
    putU16(out, recordChecksum(data));
}

void putImage(std::vector<std::uint8_t>& out, std::uint8_t kind,
              std::span<const std::uint8_t> image) {
    for (std::size_t offset = 0; offset < image.size(); offset += kMaxRecordData) {
        const std::size_t n = std::min(kMaxRecordData, image.size() - offset);
        putRecord(out, kind, static_cast<std::uint32_t>(offset), image.subspan(offset, n));
    }
}

std::size_t recordsSize(std::size_t imageSize) {
    const std::size_t records = (imageSize + kMaxRecordData - 1) / kMaxRecordData;
    return imageSize + records * kRecordOverhead;
}

bool isVersion(const std::string& v) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return v.size() == 3 && digit(v[0]) && v[1] == '.' && digit(v[2]);
}

} // namespace

std::uint16_t recordChecksum(std::span<const std::uint8_t> data) {
    unsigned sum = 0;
    for (const std::uint8_t b : data) {
        sum += b;
    }
    return static_cast<std::uint16_t>(sum);
}

PackageWriteResult writePackage(const PackageContents& contents) {
    PackageWriteResult result;
    if (contents.name.find_first_of(std::string_view("&\0", 2)) != std::string::npos) {
        result.error = "the model name must not contain \"&\" or a zero byte";
        return result;
    }
    if (contents.version && !isVersion(*contents.version)) {
        result.error = "the version must be written as two digits with a dot, such as 1.2";
        return result;
    }

    std::string header = "NAME=" + contents.name + "&";
    if (contents.version) {
        header += "VERSION=" + *contents.version + "&";
    }
    if (header.size() + 2 > 0xFFFF) {
        result.error = "the model name is too long for a package header";
        return result;
    }

    // Every record keeps its trailing bytes, so the area's length is also the offset the reader
    // reaches after the last record; both must stay within 16 bits.
    std::size_t area = recordsSize(contents.flash.size()) + recordsSize(contents.eeprom.size());
    if (area == 0) {
        area = kRecordOverhead;
    }
    if (area > kMaxAreaOffset) {
        result.error = "the images are too large: their records take " + std::to_string(area) +
                       " bytes, more than the 65535 a package can hold";
        return result;
    }

    auto& out = result.bytes;
    out.reserve(2 + header.size() + area);
    putU16(out, header.size() + 2);
    out.insert(out.end(), header.begin(), header.end());
    putImage(out, kKindFlash, contents.flash);
    putImage(out, kKindEeprom, contents.eeprom);
    if (contents.flash.empty() && contents.eeprom.empty()) {
        putRecord(out, kKindFiller, 0, {});
    }
    result.ok = true;
    return result;
}

} // namespace qx
