// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventCsv.h"

#include "eventlog/EventText.h"
#include "eventlog/EventTime.h"
#include "state/Utf8Path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qx::eventlog {

std::string csvCell(std::string_view text) {
    std::string cell;
    if (!text.empty() && (text.front() == '=' || text.front() == '+' || text.front() == '-' ||
                          text.front() == '@' || text.front() == '\t' || text.front() == '\r')) {
        cell += '\'';
    }
    cell.append(text);
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string quoted = "\"";
    for (const char c : cell) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string csvHeader() {
    return "time,unit,serial,kind,details\r\n";
}

std::string csvRow(const watch::Event& event) {
    return csvCell(formatUtc(event.time)) + ',' + csvCell(event.unit) + ',' +
           csvCell(event.serial) + ',' + csvCell(event.kind) + ',' + csvCell(eventDetails(event)) +
           "\r\n";
}

CsvExport exportCsv(const EventReader& reader, const EventFilter& filter,
                    const std::filesystem::path& path, std::stop_token stop) {
    CsvExport out;
    std::filesystem::path temp = path;
    temp += ".part";
#ifdef _WIN32
    std::FILE* file = _wfopen(temp.c_str(), L"wb");
#else
    std::FILE* file = std::fopen(temp.c_str(), "wbe");
#endif
    if (file == nullptr) {
        out.error = "cannot create " + utf8Text(temp) + ": " + std::strerror(errno);
        return out;
    }
    bool writeFailed = false;
    const auto put = [&](const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
            writeFailed = true;
        }
        return !writeFailed;
    };
    put(csvHeader());
    ReadOptions options;
    options.stop = stop;
    out.read = reader.read(
        filter,
        [&](const watch::Event& event, std::string_view) {
            ++out.rows;
            return put(csvRow(event));
        },
        options);
    const bool closed = std::fclose(file) == 0;
    std::error_code ec;
    if (writeFailed || !closed) {
        out.error = "cannot write " + utf8Text(path) + ": " + std::strerror(errno);
    } else if (out.read.stopped) {
        out.error = "the export was stopped";
    } else {
        std::filesystem::rename(temp, path, ec);
        if (ec) {
            out.error = "cannot write " + utf8Text(path) + ": " + ec.message();
        }
    }
    if (!out.error.empty()) {
        std::filesystem::remove(temp, ec);
        return out;
    }
    out.ok = true;
    return out;
}

} // namespace qx::eventlog
