// SPDX-License-Identifier: GPL-3.0-or-later
// Traffic recordings: every report the link sent and received, in a text file a person can read
// and a test can replay. The format is described in diag/RECORDING.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

inline constexpr std::string_view kRecordingMagic = "QX-77ZT traffic recording 1";
inline constexpr std::size_t kRecordedReportSize = 65;

enum class TrafficDirection : char {
    Sent = '>',     // an output report, as it went to the library
    Refused = '!',  // the library refused the output report before: it never reached the unit
    Received = '<', // an input report from the unit
};

struct RecordedReport {
    uint64_t micros = 0; // since the recording started, on the monotonic clock
    TrafficDirection direction = TrafficDirection::Sent;
    std::array<uint8_t, kRecordedReportSize> bytes{};
};

struct RecordingHeader {
    std::string program; // version of the program that made it
    std::string unit;    // the unit's identity: product, serial, version
};

struct Recording {
    RecordingHeader header;
    std::vector<RecordedReport> reports;
    bool stoppedAtLimit = false; // the recorder stopped at its size bound
    // Reports the recorder had no room for while the file was slow to take them: the link went
    // on, the recording has gaps.
    uint64_t dropped = 0;
};

// The header lines, each ending in a newline.
std::string formatRecordingHeader(const RecordingHeader& header);
// One report line, ending in a newline.
std::string formatRecordedReport(const RecordedReport& report);
// The line a recorder writes when it stops at its bound.
std::string formatLimitLine(uint64_t limitBytes);
// The line that stands where `count` reports were dropped (more than 0).
std::string formatDroppedLine(uint64_t count);

struct ParsedRecording {
    std::optional<Recording> recording;
    std::string error; // "line N: what is wrong", when !recording
};

// Reads a recording; refuses anything that does not follow the format, naming the line.
ParsedRecording parseRecording(std::string_view text);

} // namespace qx
