// SPDX-License-Identifier: GPL-3.0-or-later
// The daily files of the event log's folder: which there are, and removing the oldest past the
// log's bounds. Only regular files named "events-YYYY-MM-DD.jsonl" are the log's; anything else
// there is left alone.
#pragma once

#include "eventlog/EventLog.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qx::eventlog {

struct DailyFile {
    std::chrono::sys_days day;
    std::filesystem::path path;
    std::uint64_t size = 0;
};

// Oldest first; empty when the folder is missing or cannot be read.
std::vector<DailyFile> listDailyFiles(const std::filesystem::path& folder);

struct Pruned {
    std::vector<std::filesystem::path> removed;
    std::uint64_t bytesLeft = 0; // of the daily files left
    std::string error;           // the first removal that failed
};
// Removes the files of days before the last `limits.maxDays` ending with `today`, then the
// oldest while all of them together are over `limits.maxBytes`; today's file and the one named
// `keep` (the one being written) are never removed. `room`: bytes about to be added, that
// must fit too.
Pruned pruneDailyFiles(const std::filesystem::path& folder, std::chrono::sys_days today,
                       const LogLimits& limits, const std::string& keep, std::uint64_t room = 0);

} // namespace qx::eventlog
