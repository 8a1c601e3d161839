// SPDX-License-Identifier: GPL-3.0-or-later
#include "eventlog/LogFiles.h"

#include "state/Utf8Path.h"

#include <algorithm>

namespace qx::eventlog {

std::vector<DailyFile> listDailyFiles(const std::filesystem::path& folder) {
    std::vector<DailyFile> files;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) {
        return files;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        const std::filesystem::path& path = it->path();
        const std::optional<std::chrono::sys_days> day = dayOfFileName(utf8Text(path.filename()));
        if (!day) {
            continue;
        }
        std::error_code statError;
        // A link is not followed: its target is not the log's.
        if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, statError))) {
            continue;
        }
        const std::uintmax_t size = std::filesystem::file_size(path, statError);
        files.push_back({*day, path, statError ? 0 : static_cast<std::uint64_t>(size)});
    }
    std::sort(files.begin(), files.end(),
              [](const DailyFile& a, const DailyFile& b) { return a.day < b.day; });
    return files;
}

Pruned pruneDailyFiles(const std::filesystem::path& folder, std::chrono::sys_days today,
                       const LogLimits& limits, const std::string& keep, std::uint64_t room) {
    Pruned out;
    std::vector<DailyFile> files = listDailyFiles(folder);
    const auto kept = [&keep, today](const DailyFile& f) {
        return f.day == today || (!keep.empty() && utf8Text(f.path.filename()) == keep);
    };
    const auto remove = [&out](const DailyFile& f) {
        std::error_code ec;
        std::filesystem::remove(f.path, ec);
        // Gone already is fine: another copy of the program may have cleaned up too.
        if (ec && ec != std::errc::no_such_file_or_directory) {
            if (out.error.empty()) {
                out.error = "cannot remove " + utf8Text(f.path) + ": " + ec.message();
            }
            return false;
        }
        out.removed.push_back(f.path);
        return true;
    };
    const std::chrono::sys_days firstKept =
        today - std::chrono::days(std::max(limits.maxDays, 1) - 1);
    std::vector<DailyFile> left;
    for (const DailyFile& f : files) {
        if (f.day < firstKept && !kept(f) && remove(f)) {
            continue;
        }
        left.push_back(f);
    }
    std::uint64_t total = 0;
    for (const DailyFile& f : left) {
        total += f.size;
    }
    for (const DailyFile& f : left) {
        if (total + room <= limits.maxBytes) {
            break;
        }
        if (!kept(f) && remove(f)) {
            total -= f.size;
        }
    }
    out.bytesLeft = total;
    return out;
}

} // namespace qx::eventlog
