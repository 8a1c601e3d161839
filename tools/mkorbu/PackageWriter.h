// SPDX-License-Identifier: GPL-3.0-or-later
// Writing of `.orbu` update packages, for the mkorbu tool, the sample package and the tests.
// The program itself only reads packages.
#ifndef QX_PACKAGE_WRITER_H
#define QX_PACKAGE_WRITER_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx {

struct PackageContents {
    std::string name;                   // 8-bit model name; neither "&" nor a zero byte
    std::optional<std::string> version; // "M.m" with two decimal digits; no key when absent
    std::vector<std::uint8_t> flash;
    std::vector<std::uint8_t> eeprom;
};

struct PackageWriteResult {
    bool ok = false;
    std::vector<std::uint8_t> bytes; // the whole file when ok
    std::string error;               // why the contents cannot be packed, when !ok
};

// Lays out the header "NAME=<name>&[VERSION=<M.m>&]", then the flash records and the EEPROM
// records, 256 data bytes each (the last one of an image shorter). Each record carries the
// big-endian offset of its data within its image in the four bytes after the length, and a 16-bit
// sum of its data bytes in its two trailing bytes. Two empty images give a single record of an
// ignored kind, since a package must hold at least one record.
PackageWriteResult writePackage(const PackageContents& contents);

// Sum of the bytes modulo 65536, stored in each record's trailing bytes.
std::uint16_t recordChecksum(std::span<const std::uint8_t> data);

} // namespace qx

#endif
