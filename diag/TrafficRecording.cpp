// SPDX-License-Identifier: GPL-3.0-or-later
#include "diag/TrafficRecording.h"

#include <charconv>
#include <cstdio>

namespace qx {

namespace {

constexpr std::string_view kProgramKey = "program: ";
constexpr std::string_view kUnitKey = "unit: ";
constexpr std::string_view kLimitLine = "stopped: size limit of ";
constexpr std::string_view kDroppedKey = "dropped: ";
constexpr std::string_view kDroppedEnd = " reports";

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1; // upper case is not written, so it is not read either
}

// Header values stay on their line.
std::string oneLine(const std::string& s) {
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u != 0x7F) ? c : '?';
    }
    return out;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::optional<RecordedReport> parseReportLine(std::string_view line) {
    // "<micros> <direction> <130 hex digits>"
    RecordedReport r;
    const char* begin = line.data();
    const char* end = line.data() + line.size();
    const auto [afterTime, ec] = std::from_chars(begin, end, r.micros);
    if (ec != std::errc{} || afterTime == begin) {
        return std::nullopt;
    }
    std::string_view rest(afterTime, static_cast<std::size_t>(end - afterTime));
    if (rest.size() != 3 + 2 * kRecordedReportSize || rest[0] != ' ' || rest[2] != ' ') {
        return std::nullopt;
    }
    switch (rest[1]) {
    case '>':
    case '!':
    case '<':
        r.direction = static_cast<TrafficDirection>(rest[1]);
        break;
    default:
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kRecordedReportSize; ++i) {
        const int hi = hexValue(rest[3 + 2 * i]);
        const int lo = hexValue(rest[4 + 2 * i]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        r.bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return r;
}

// "dropped: <count> reports", the count above 0.
std::optional<uint64_t> parseDroppedLine(std::string_view line) {
    line.remove_prefix(kDroppedKey.size());
    uint64_t count = 0;
    const char* end = line.data() + line.size();
    const auto [after, ec] = std::from_chars(line.data(), end, count);
    if (ec != std::errc{} || after == line.data() || count == 0 ||
        std::string_view(after, static_cast<std::size_t>(end - after)) != kDroppedEnd) {
        return std::nullopt;
    }
    return count;
}

} // namespace

std::string formatRecordingHeader(const RecordingHeader& header) {
    return std::string(kRecordingMagic) + "\n" + std::string(kProgramKey) +
           oneLine(header.program) + "\n" + std::string(kUnitKey) + oneLine(header.unit) + "\n";
}

std::string formatRecordedReport(const RecordedReport& report) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string line = std::to_string(report.micros);
    line += ' ';
    line += static_cast<char>(report.direction);
    line += ' ';
    for (const uint8_t b : report.bytes) {
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    line += '\n';
    return line;
}

std::string formatLimitLine(uint64_t limitBytes) {
    return std::string(kLimitLine) + std::to_string(limitBytes) + " bytes reached\n";
}

std::string formatDroppedLine(uint64_t count) {
    return std::string(kDroppedKey) + std::to_string(count) + std::string(kDroppedEnd) + "\n";
}

ParsedRecording parseRecording(std::string_view text) {
    Recording rec;
    std::size_t lineNo = 0;
    auto fail = [&](const std::string& why) {
        return ParsedRecording{std::nullopt, "line " + std::to_string(lineNo) + ": " + why};
    };
    uint64_t lastMicros = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        if (nl == std::string_view::npos) {
            ++lineNo;
            return fail("the last line has no end (the recording was cut short)");
        }
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl + 1);
        ++lineNo;
        if (lineNo == 1) {
            if (line != kRecordingMagic) {
                return fail("not a traffic recording of this program");
            }
            continue;
        }
        if (lineNo == 2) {
            if (!startsWith(line, kProgramKey)) {
                return fail("the program line is missing");
            }
            rec.header.program = std::string(line.substr(kProgramKey.size()));
            continue;
        }
        if (lineNo == 3) {
            if (!startsWith(line, kUnitKey)) {
                return fail("the unit line is missing");
            }
            rec.header.unit = std::string(line.substr(kUnitKey.size()));
            continue;
        }
        if (rec.stoppedAtLimit) {
            return fail("a line after the end of the recording");
        }
        if (startsWith(line, kLimitLine)) {
            rec.stoppedAtLimit = true;
            continue;
        }
        if (startsWith(line, kDroppedKey)) {
            const std::optional<uint64_t> count = parseDroppedLine(line);
            if (!count) {
                return fail("not a count of dropped reports");
            }
            if (*count > UINT64_MAX - rec.dropped) {
                return fail("more reports dropped than can be counted");
            }
            rec.dropped += *count;
            continue;
        }
        const std::optional<RecordedReport> r = parseReportLine(line);
        if (!r) {
            return fail("not a report line");
        }
        if (r->micros < lastMicros) {
            return fail("the time goes back");
        }
        lastMicros = r->micros;
        rec.reports.push_back(*r);
    }
    if (lineNo < 3) {
        return ParsedRecording{std::nullopt, "the header is incomplete"};
    }
    return ParsedRecording{std::move(rec), {}};
}

} // namespace qx
