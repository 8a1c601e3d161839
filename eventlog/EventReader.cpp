// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/EventReader.h"

#include "eventlog/EventJson.h"
#include "eventlog/LogFiles.h"
#include "state/Utf8Path.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace qx::eventlog {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForReading(const std::filesystem::path& path) {
#ifdef _WIN32
    return File(_wfopen(path.c_str(), L"rb"));
#else
    return File(std::fopen(path.c_str(), "rbe"));
#endif
}

bool seekTo(std::FILE* f, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool EventFilter::matchesUnit(const watch::Event& event) const {
    return unit.empty() || equalsIgnoringCase(unit, event.serial) ||
           equalsIgnoringCase(unit, event.unit);
}

bool EventFilter::matchesKind(const watch::Event& event) const {
    return kinds.empty() || std::find(kinds.begin(), kinds.end(), event.kind) != kinds.end();
}

bool EventFilter::matchesTime(TimePoint time) const {
    return (!since || time >= *since) && (!until || time < *until);
}

bool EventFilter::matches(const watch::Event& event) const {
    return matchesTime(event.time) && matchesKind(event) && matchesUnit(event);
}

EventReader::EventReader(std::filesystem::path folder) : folder_(std::move(folder)) {}

ReadSummary EventReader::read(const EventFilter& filter, const Visitor& visit,
                              const ReadOptions& options) const {
    ReadSummary summary;
    std::vector<DailyFile> files = listDailyFiles(folder_);
    // A file holds the events of its UTC day alone: days outside the times asked for are
    // skipped unopened.
    std::erase_if(files, [&](const DailyFile& f) {
        const TimePoint start = f.day;
        const TimePoint end = f.day + std::chrono::days(1);
        return (filter.since && end <= *filter.since) || (filter.until && start >= *filter.until) ||
               (options.from && f.day < options.from->day);
    });
    std::uint64_t total = 0;
    for (const DailyFile& f : files) {
        total += f.size;
    }
    std::uint64_t told = 0;
    std::vector<char> chunk(kChunk);
    std::string pending;
    for (const DailyFile& f : files) {
        if (options.stop.stop_requested()) {
            summary.stopped = true;
            return summary;
        }
        File file = openForReading(f.path);
        if (!file) {
            summary.problems.push_back("cannot open " + utf8Text(f.path) + ": " +
                                       std::strerror(errno));
            continue;
        }
        std::uint64_t offset = 0;
        if (options.from && f.day == options.from->day && options.from->offset > 0) {
            if (!seekTo(file.get(), options.from->offset)) {
                summary.problems.push_back("cannot read " + utf8Text(f.path));
                continue;
            }
            offset = options.from->offset;
        }
        ++summary.files;
        pending.clear();
        bool overlong = false;          // skipping a line longer than any the log writes
        std::uint64_t lineEnd = offset; // just past the last whole line
        bool failed = false;
        while (true) {
            const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
            if (got == 0) {
                failed = std::ferror(file.get()) != 0;
                break;
            }
            summary.bytes += got;
            std::string_view data(chunk.data(), got);
            while (!data.empty()) {
                const std::size_t nl = data.find('\n');
                const std::string_view piece = data.substr(0, nl);
                if (!overlong) {
                    if (pending.size() + piece.size() > kMaxLineBytes) {
                        overlong = true;
                        pending.clear();
                    } else {
                        pending.append(piece);
                    }
                }
                if (nl == std::string_view::npos) {
                    offset += data.size();
                    break;
                }
                offset += nl + 1;
                lineEnd = offset;
                data.remove_prefix(nl + 1);
                if (overlong) {
                    ++summary.damaged;
                    overlong = false;
                    continue;
                }
                std::optional<watch::Event> event = parseEventLine(pending);
                if (!event) {
                    ++summary.damaged;
                } else {
                    ++summary.lines;
                    if (filter.matches(*event)) {
                        ++summary.matched;
                        if (!visit(*event, pending)) {
                            summary.stopped = true;
                            summary.end = LogPosition{f.day, lineEnd};
                            return summary;
                        }
                    }
                }
                pending.clear();
            }
            if (options.stop.stop_requested()) {
                summary.stopped = true;
                return summary;
            }
            if (options.progress && summary.bytes - told >= 4 * kChunk) {
                told = summary.bytes;
                options.progress(summary.bytes, total);
            }
        }
        if (failed) {
            summary.problems.push_back("cannot read " + utf8Text(f.path));
        }
        if (!pending.empty() || overlong) {
            ++summary.torn;
        }
        summary.end = LogPosition{f.day, lineEnd};
    }
    if (options.progress) {
        options.progress(summary.bytes, total);
    }
    return summary;
}

} // namespace qx::eventlog
