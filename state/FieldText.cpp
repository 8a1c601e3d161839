// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/FieldText.h"

#include <charconv>

namespace qx::state {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool plain(unsigned char c) {
    return c > 0x20 && c < 0x7F && c != '%';
}

} // namespace

std::string escapeField(std::string_view text) {
    if (text.empty()) {
        return "%";
    }
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (plain(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 0x0F]);
        }
    }
    return out;
}

std::optional<std::string> unescapeField(std::string_view field) {
    if (field == "%") {
        return std::string();
    }
    if (field.empty()) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c != '%') {
            if (!plain(c)) {
                return std::nullopt;
            }
            out.push_back(field[i]);
            continue;
        }
        if (field.size() - i < 3) {
            return std::nullopt;
        }
        const int hi = hexValue(field[i + 1]);
        const int lo = hexValue(field[i + 2]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::string hexText(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> bytesFromHex(std::string_view text, std::size_t size) {
    if (text.size() != size * 2) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(size);
    for (std::size_t i = 0; i < size; ++i) {
        const int hi = hexValue(text[2 * i]);
        const int lo = hexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return out;
}

std::optional<std::uint64_t> decimalField(std::string_view field) {
    if (field.empty() || (field.size() > 1 && field[0] == '0')) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (ec != std::errc() || end != field.data() + field.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> signedDecimalField(std::string_view field) {
    if (!field.empty() && field[0] == '-') {
        const auto magnitude = decimalField(field.substr(1));
        if (!magnitude || *magnitude == 0 || *magnitude > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        return -static_cast<std::int64_t>(*magnitude);
    }
    const auto value = decimalField(field);
    if (!value || *value > static_cast<std::uint64_t>(INT64_MAX)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(*value);
}

std::optional<std::vector<std::string_view>> textLines(std::span<const std::uint8_t> file) {
    std::vector<std::string_view> lines;
    const char* text = reinterpret_cast<const char*>(file.data());
    std::size_t start = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
        const std::uint8_t c = file[i];
        if (c == '\n') {
            lines.emplace_back(text + start, i - start);
            start = i + 1;
        } else if (c < 0x20 || c > 0x7E) {
            return std::nullopt;
        }
    }
    if (start != file.size()) {
        return std::nullopt;
    }
    return lines;
}

std::optional<std::vector<std::string_view>>
headedLines(std::span<const std::uint8_t> file, const StateFileShape& shape, std::string& error) {
    if (file.size() > shape.maxSize) {
        error = "the file is too large";
        return std::nullopt;
    }
    auto lines = textLines(file);
    if (!lines || lines->empty()) {
        error = "the file is cut short or holds foreign bytes";
        return std::nullopt;
    }
    if ((*lines)[0] != shape.header) {
        error = "the file is not " + std::string(shape.kind) + " of this program";
        return std::nullopt;
    }
    if (lines->size() - 1 > shape.maxRecords) {
        error = "the file holds more " + std::string(shape.records) + " than are kept";
        return std::nullopt;
    }
    return lines;
}

std::optional<std::vector<std::string_view>> lineFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        const std::string_view field = line.substr(
            start, space == std::string_view::npos ? std::string_view::npos : space - start);
        if (field.empty()) {
            return std::nullopt;
        }
        fields.push_back(field);
        if (space == std::string_view::npos) {
            return fields;
        }
        start = space + 1;
    }
}

} // namespace qx::state
