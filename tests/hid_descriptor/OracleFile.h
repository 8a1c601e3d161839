// SPDX-License-Identifier: GPL-3.0-or-later
// Reader for the descriptor oracle files in data/: the descriptor bytes and the report lengths and
// value capabilities another platform's HID parser gives for them (format in data/README.txt).
#ifndef QX_TESTS_HID_ORACLE_FILE_H
#define QX_TESTS_HID_ORACLE_FILE_H

#include "hidlib/descriptor/ReportDescriptor.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hid::test {

struct OracleType {
    std::optional<uint16_t> byteLength;
    std::optional<size_t> capCount;
    std::vector<ValueCap> listedCaps; // the first few, in order
};

struct Oracle {
    std::string name;
    std::vector<uint8_t> descriptor;
    std::optional<size_t> declaredLength;
    std::array<OracleType, 3> types; // input, output, feature
};

// Reads one oracle file; on a malformed file returns nullopt and says why in `error`.
std::optional<Oracle> readOracle(const std::string& path, std::string& error);

} // namespace hid::test

#endif
