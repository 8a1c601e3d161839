// SPDX-License-Identifier: GPL-3.0-or-later
#include "OracleFile.h"

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

namespace hid::test {

namespace {

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool parseNumber(const std::string& text, unsigned long& out) {
    int base = 10;
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        base = 16;
        digits = digits.substr(2);
    }
    const auto* end = digits.data() + digits.size();
    auto [ptr, ec] = std::from_chars(digits.data(), end, out, base);
    return ec == std::errc() && ptr == end && !digits.empty();
}

int typeIndex(const std::string& type) {
    if (type == "input") {
        return 0;
    }
    if (type == "output") {
        return 1;
    }
    if (type == "feature") {
        return 2;
    }
    return -1;
}

// "usage_page=0x0001 usage=0x0031 report_id=2 bit_size=12 report_count=1 is_range=0"
std::optional<ValueCap> parseCap(const std::string& text) {
    std::map<std::string, unsigned long> fields;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        const auto eq = token.find('=');
        unsigned long value = 0;
        if (eq == std::string::npos || !parseNumber(token.substr(eq + 1), value)) {
            return std::nullopt;
        }
        fields[token.substr(0, eq)] = value;
    }
    const bool isRange = fields.count("usage_min") != 0;
    for (const char* key : {"usage_page", "report_id", "bit_size", "report_count", "is_range"}) {
        if (fields.count(key) == 0) {
            return std::nullopt;
        }
    }
    if (!isRange && fields.count("usage") == 0) {
        return std::nullopt;
    }
    ValueCap cap;
    cap.usagePage = static_cast<uint16_t>(fields["usage_page"]);
    cap.usage = static_cast<uint16_t>(isRange ? fields["usage_min"] : fields["usage"]);
    cap.usageMax = static_cast<uint16_t>(isRange ? fields["usage_max"] : fields["usage"]);
    cap.isRange = fields["is_range"] != 0;
    cap.reportId = static_cast<uint8_t>(fields["report_id"]);
    cap.bitSize = static_cast<uint16_t>(fields["bit_size"]);
    cap.reportCount = static_cast<uint16_t>(fields["report_count"]);
    return cap;
}

} // namespace

std::optional<Oracle> readOracle(const std::string& path, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    Oracle oracle;
    bool inHex = false;
    std::string line;
    int lineNo = 0;
    while (std::getline(file, line)) {
        ++lineNo;
        const std::string where = path + ":" + std::to_string(lineNo);
        line = trim(line);
        if (inHex) {
            if (line == "end_hex") {
                inHex = false;
                continue;
            }
            std::istringstream in(line);
            std::string byte;
            while (in >> byte) {
                unsigned long value = 0;
                if (byte.size() != 2 || !parseNumber("0x" + byte, value)) {
                    error = where + ": bad hex byte '" + byte + "'";
                    return std::nullopt;
                }
                oracle.descriptor.push_back(static_cast<uint8_t>(value));
            }
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, colon);
        const std::string value = trim(line.substr(colon + 1));
        unsigned long number = 0;
        if (key == "hex") {
            inHex = true;
        } else if (key == "name") {
            oracle.name = value;
        } else if (key == "descriptor_length") {
            if (!parseNumber(value, number)) {
                error = where + ": bad length";
                return std::nullopt;
            }
            oracle.declaredLength = number;
        } else if (key.size() > 18 && key.ends_with("_report_byte_length")) {
            const int t = typeIndex(key.substr(0, key.size() - 19));
            if (t < 0 || !parseNumber(value, number)) {
                error = where + ": bad report length line";
                return std::nullopt;
            }
            oracle.types[t].byteLength = static_cast<uint16_t>(number);
        } else if (key.starts_with("value_caps.")) {
            const std::string rest = key.substr(11);
            const auto dot = rest.find('.');
            const auto bracket = rest.find('[');
            if (dot != std::string::npos && rest.substr(dot + 1) == "count") {
                const int t = typeIndex(rest.substr(0, dot));
                if (t < 0 || !parseNumber(value, number)) {
                    error = where + ": bad cap count";
                    return std::nullopt;
                }
                oracle.types[t].capCount = number;
            } else if (bracket != std::string::npos) {
                const int t = typeIndex(rest.substr(0, bracket));
                auto cap = parseCap(value);
                if (t < 0 || !cap) {
                    error = where + ": bad cap line";
                    return std::nullopt;
                }
                oracle.types[t].listedCaps.push_back(*cap);
            }
            // "value_caps.input: (20 more not listed ...)" carries no data.
        }
    }
    if (inHex) {
        error = path + ": hex block without end_hex";
        return std::nullopt;
    }
    return oracle;
}

} // namespace hid::test
