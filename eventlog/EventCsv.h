// SPDX-License-Identifier: GPL-3.0-or-later
// The event log as CSV (RFC 4180: comma separated, CRLF line ends, cells with a comma, quote or
// line break quoted, quotes doubled): time (UTC, ISO 8601), unit, serial, kind, details.
// Unit names come from operators: a cell that starts with = + - @ (or a tab or carriage return)
// gets a ' in front, so that a spreadsheet shows it instead of running it as a formula.
//
// Plain C++ without Qt.
#pragma once

#include "eventlog/EventReader.h"
#include "watch/Event.h"

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

namespace qx::eventlog {

// One cell, made safe and quoted as needed.
std::string csvCell(std::string_view text);
// "time,unit,serial,kind,details" with its CRLF.
std::string csvHeader();
// One event's row with its CRLF.
std::string csvRow(const watch::Event& event);

struct CsvExport {
    bool ok = false;
    std::uint64_t rows = 0;
    std::string error;
    ReadSummary read;
};
// Writes every event of `reader` that `filter` lets through to `path`: into a file beside it
// first, renamed over `path` once complete, so a failed or stopped export leaves no half file.
CsvExport exportCsv(const EventReader& reader, const EventFilter& filter,
                    const std::filesystem::path& path, std::stop_token stop = {});

} // namespace qx::eventlog
