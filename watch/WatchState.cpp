// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/WatchState.h"

#include "state/FieldText.h"
#include "state/StateFiles.h"

#include <algorithm>

namespace qx::watch {

namespace {

constexpr std::string_view kHeader = "qx77zt watch state 1";
// Times up to 2200-01-01, well inside what the clock's own nanoseconds can hold.
constexpr std::uint64_t kLatestMs = 7'258'118'400'000;

} // namespace

std::string formatWatchState(const std::vector<RaisedAlarm>& alarms) {
    std::string out(kHeader);
    out += '\n';
    for (const RaisedAlarm& a : alarms) {
        const auto ms = std::clamp<std::int64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(a.since.time_since_epoch())
                .count(),
            0, static_cast<std::int64_t>(kLatestMs));
        out += "raised " + std::string(alarmWord(a.kind)) + " " + state::escapeField(a.unit) + " " +
               std::to_string(ms) + "\n";
    }
    return out;
}

WatchStateParse parseWatchState(std::span<const std::uint8_t> file) {
    WatchStateParse out;
    const auto lines = state::headedLines(
        file, {kMaxWatchStateBytes, kHeader, kMaxRaisedAlarms, "a watch state file", "alarms"},
        out.error);
    if (!lines) {
        return out;
    }
    for (std::size_t i = 1; i < lines->size(); ++i) {
        const auto fields = state::lineFields((*lines)[i]);
        const auto bad = [&] {
            out.error = "line " + std::to_string(i + 1) + " is not an alarm";
            out.alarms.clear();
            return out;
        };
        if (!fields || fields->size() != 4 || (*fields)[0] != "raised") {
            return bad();
        }
        const auto kind = alarmFromWord((*fields)[1]);
        auto unit = state::unescapeField((*fields)[2]);
        const auto ms = state::decimalField((*fields)[3]);
        if (!kind || !unit || !ms || *ms > kLatestMs) {
            return bad();
        }
        out.alarms.push_back({std::move(*unit), *kind,
                              std::chrono::system_clock::time_point(
                                  std::chrono::milliseconds(static_cast<std::int64_t>(*ms)))});
    }
    out.ok = true;
    return out;
}

WatchStateLoad loadWatchState(const std::filesystem::path& path) {
    WatchStateLoad out;
    const state::StateLoad load =
        state::loadStateFile(path, kMaxWatchStateBytes, [&](std::span<const std::uint8_t> bytes) {
            WatchStateParse parsed = parseWatchState(bytes);
            if (parsed.ok) {
                out.alarms = std::move(parsed.alarms);
            }
            return parsed.error;
        });
    switch (load.status) {
    case state::StateLoad::Status::Missing:
    case state::StateLoad::Status::Loaded:
        break;
    case state::StateLoad::Status::SetAside:
        out.alarms.clear();
        out.problem =
            path.string() + " was damaged (" + load.why + "); set aside as " + load.aside.string();
        break;
    case state::StateLoad::Status::Kept:
        out.alarms.clear();
        out.problem = path.string() + " was not used: " + load.why;
        break;
    }
    return out;
}

std::string saveWatchState(const std::filesystem::path& path,
                           const std::vector<RaisedAlarm>& alarms) {
    const std::string text = formatWatchState(alarms);
    const state::WriteOutcome w = state::replaceFile(
        path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return w.ok ? std::string{} : path.string() + ": " + w.error;
}

} // namespace qx::watch
