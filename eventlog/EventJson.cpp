// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventJson.h"

#include "eventlog/EventTime.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace qx::eventlog {

namespace {

constexpr std::string_view kFixedKeys[] = {"time", "kind", "serial", "unit"};

bool isFixedKey(std::string_view key) {
    for (const std::string_view k : kFixedKeys) {
        if (k == key) {
            return true;
        }
    }
    return false;
}

// Length of the valid UTF-8 sequence at `pos`, or 0 when the bytes there are not one.
std::size_t utf8Length(std::string_view text, std::size_t pos) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const std::size_t left = text.size() - pos;
    const unsigned char c = at(0);
    if (c < 0x80) {
        return 1;
    }
    const auto cont = [&](std::size_t i) { return i < left && (at(i) & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) {
        return cont(1) ? 2 : 0;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) {
            return 0;
        }
        const unsigned char c1 = at(1);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F)) {
            return 0; // overlong, or a surrogate
        }
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) {
            return 0;
        }
        const unsigned char c1 = at(1);
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F)) {
            return 0;
        }
        return 4;
    }
    return 0;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A cursor over one line; every read checks what is left first.
class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }
    bool take(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    void skipSpace() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }
    std::optional<char> peek() const {
        if (pos_ < text_.size()) {
            return text_[pos_];
        }
        return std::nullopt;
    }

    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            const auto u = static_cast<unsigned char>(c);
            if (c == '"') {
                ++pos_;
                return out;
            }
            if (u < 0x20) {
                return std::nullopt;
            }
            if (c == '\\') {
                if (!escape(out)) {
                    return std::nullopt;
                }
                continue;
            }
            const std::size_t n = utf8Length(text_, pos_);
            if (n == 0) {
                return std::nullopt;
            }
            out.append(text_.substr(pos_, n));
            pos_ += n;
        }
        return std::nullopt; // no closing quote
    }

    // A JSON number: strict grammar first, then converted.
    std::optional<double> number() {
        const std::size_t start = pos_;
        take('-');
        if (take('0')) {
            // no leading zeros
        } else if (!digits()) {
            return std::nullopt;
        }
        if (take('.') && !digits()) {
            return std::nullopt;
        }
        if (take('e') || take('E')) {
            if (!take('+')) {
                take('-');
            }
            if (!digits()) {
                return std::nullopt;
            }
        }
        double value = 0;
        const char* first = text_.data() + start;
        const char* last = text_.data() + pos_;
        const auto [end, ec] = std::from_chars(first, last, value);
        if (end != last || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
            return std::nullopt;
        }
        if (ec == std::errc::result_out_of_range || !std::isfinite(value)) {
            return std::nullopt;
        }
        return value;
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_).starts_with(word)) {
            pos_ += word.size();
            return true;
        }
        return false;
    }

private:
    bool digits() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
            ++pos_;
        }
        return pos_ > start;
    }

    std::optional<std::uint32_t> hex4() {
        if (text_.size() - pos_ < 4) {
            return std::nullopt;
        }
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_ + i];
            v <<= 4;
            if (c >= '0' && c <= '9') {
                v |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                v |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                v |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return std::nullopt;
            }
        }
        pos_ += 4;
        return v;
    }

    // At a backslash: one escape, appended to `out` as UTF-8.
    bool escape(std::string& out) {
        ++pos_;
        if (pos_ >= text_.size()) {
            return false;
        }
        const char c = text_[pos_++];
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        const std::optional<std::uint32_t> first = hex4();
        if (!first) {
            return false;
        }
        std::uint32_t cp = *first;
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false; // a low surrogate alone
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!literal("\\u")) {
                return false;
            }
            const std::optional<std::uint32_t> low = hex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                return false;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
        }
        appendUtf8(out, cp);
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

std::string jsonQuoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
            ++pos;
        } else if (c == '\n') {
            out += "\\n";
            ++pos;
        } else if (c == '\t') {
            out += "\\t";
            ++pos;
        } else if (c == '\r') {
            out += "\\r";
            ++pos;
        } else if (c == '\b') {
            out += "\\b";
            ++pos;
        } else if (c == '\f') {
            out += "\\f";
            ++pos;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
            ++pos;
        } else if (u < 0x80) {
            out += c;
            ++pos;
        } else if (const std::size_t n = utf8Length(text, pos); n > 0) {
            out.append(text.substr(pos, n));
            pos += n;
        } else {
            out += "\xEF\xBF\xBD"; // U+FFFD for the byte that is not UTF-8
            ++pos;
        }
    }
    out += '"';
    return out;
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    if (value == 0) {
        return "0"; // also for -0, which JSON readers disagree about
    }
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc()) {
        return "null";
    }
    std::string out(text, end);
    // to_chars may write "1e+20"; JSON takes that. It never writes "inf" for finite values.
    return out;
}

std::string formatEventLine(const watch::Event& event) {
    std::string line =
        "{\"time\":\"" + formatUtc(event.time) + "\",\"kind\":" + jsonQuoted(event.kind) +
        ",\"serial\":" + jsonQuoted(event.serial) + ",\"unit\":" + jsonQuoted(event.unit);
    // The newline and the closing brace must still fit.
    const auto fits = [&line](const std::string& field) {
        return line.size() + 1 + field.size() + 2 <= kMaxLineBytes;
    };
    for (const auto& [key, value] : event.texts) {
        if (isFixedKey(key)) {
            continue;
        }
        const std::string field = jsonQuoted(key) + ":" + jsonQuoted(value);
        if (fits(field)) {
            line += ',';
            line += field;
        }
    }
    for (const auto& [key, value] : event.numbers) {
        if (isFixedKey(key)) {
            continue;
        }
        const std::string field = jsonQuoted(key) + ":" + jsonNumber(value);
        if (fits(field)) {
            line += ',';
            line += field;
        }
    }
    line += '}';
    return line;
}

std::optional<watch::Event> parseEventLine(std::string_view line) {
    if (line.size() > kMaxLineBytes) {
        return std::nullopt;
    }
    Cursor in(line);
    in.skipSpace();
    if (!in.take('{')) {
        return std::nullopt;
    }
    watch::Event event;
    bool haveTime = false;
    bool haveKind = false;
    bool haveSerial = false;
    bool haveUnit = false;
    in.skipSpace();
    if (in.take('}')) {
        return std::nullopt; // no time, no kind
    }
    while (true) {
        in.skipSpace();
        std::optional<std::string> key = in.string();
        if (!key) {
            return std::nullopt;
        }
        in.skipSpace();
        if (!in.take(':')) {
            return std::nullopt;
        }
        in.skipSpace();
        const std::optional<char> next = in.peek();
        if (!next) {
            return std::nullopt;
        }
        const bool fixed = isFixedKey(*key);
        if (*next == '"') {
            std::optional<std::string> value = in.string();
            if (!value) {
                return std::nullopt;
            }
            if (*key == "time") {
                const std::optional<TimePoint> t = parseUtc(*value);
                if (haveTime || !t) {
                    return std::nullopt;
                }
                event.time = *t;
                haveTime = true;
            } else if (*key == "kind") {
                if (haveKind || value->empty()) {
                    return std::nullopt;
                }
                event.kind = std::move(*value);
                haveKind = true;
            } else if (*key == "serial") {
                if (haveSerial) {
                    return std::nullopt;
                }
                event.serial = std::move(*value);
                haveSerial = true;
            } else if (*key == "unit") {
                if (haveUnit) {
                    return std::nullopt;
                }
                event.unit = std::move(*value);
                haveUnit = true;
            } else {
                event.texts.emplace_back(std::move(*key), std::move(*value));
            }
        } else if (fixed) {
            return std::nullopt; // the fixed fields are texts
        } else if (in.literal("null")) {
            event.numbers.emplace_back(std::move(*key), std::numeric_limits<double>::quiet_NaN());
        } else if (const std::optional<double> number = in.number()) {
            event.numbers.emplace_back(std::move(*key), *number);
        } else {
            return std::nullopt;
        }
        in.skipSpace();
        if (in.take('}')) {
            break;
        }
        if (!in.take(',')) {
            return std::nullopt;
        }
    }
    in.skipSpace();
    if (!in.atEnd() || !haveTime || !haveKind) {
        return std::nullopt;
    }
    return event;
}

} // namespace qx::eventlog
