// SPDX-License-Identifier: GPL-3.0-or-later
// One entry of the event log: what happened to which unit, when. The watch makes them, the log
// keeps them as one JSON object per line, and the event views and `qx77zt events` read them back.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qx::watch {

// The kinds of entry, as written in the log's "kind" field.
namespace kind {
inline constexpr std::string_view kAlarmRaised = "alarm-raised";
inline constexpr std::string_view kAlarmCleared = "alarm-cleared";
inline constexpr std::string_view kConnected = "connected";
inline constexpr std::string_view kDisconnected = "disconnected";
inline constexpr std::string_view kBootLoader = "boot-loader";
inline constexpr std::string_view kUpdateStarted = "update-start";
inline constexpr std::string_view kUpdateEnded = "update-end";
inline constexpr std::string_view kSetting = "setting";
inline constexpr std::string_view kOver = "over";
inline constexpr std::string_view kOverAcknowledged = "over-ack";
// One per unit per minute: highest level per channel, overs, seconds of silence.
inline constexpr std::string_view kSummary = "summary";
// The program itself: started, stopped, handed the units over, took them back.
inline constexpr std::string_view kProgram = "program";
} // namespace kind

struct Event {
    std::chrono::system_clock::time_point time;
    std::string kind;
    // The unit's serial number, and its name as the operator knows it (its label, else the
    // serial); both empty for an entry of the program's own.
    std::string serial;
    std::string unit;
    // Further fields, in the order written: texts and numbers.
    std::vector<std::pair<std::string, std::string>> texts;
    std::vector<std::pair<std::string, double>> numbers;

    // The text field `key`, or empty.
    std::string text(std::string_view key) const {
        for (const auto& [k, v] : texts) {
            if (k == key) {
                return v;
            }
        }
        return {};
    }
};

// Where the watch hands its entries; the event log is one, a test's list another.
class EventSink {
public:
    virtual ~EventSink() = default;
    // Called on the user interface thread; must not wait on the disk.
    virtual void record(const Event& event) = 0;
};

} // namespace qx::watch
