// SPDX-License-Identifier: GPL-3.0-or-later
// The alarm config file, alarms.conf: sections of "key = value" lines, '#' comments. Read by the
// window program and the monitor, written by the "Alarms…" dialog. A file with one bad line is
// refused whole, the line named. Plain C++.
#pragma once

#include "watch/AlarmSettings.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::watch {

inline constexpr std::string_view kAlarmConfigName = "alarms.conf";
// Larger files are refused unread: an operator's config is a few hundred bytes.
inline constexpr std::size_t kMaxConfigBytes = 256 * 1024;
// Lines, once quoted, can be longer than what they hold: the limits on what they hold keep every
// written file within what is read.
inline constexpr std::size_t kMaxConfigLine = 16384;
inline constexpr std::size_t kMaxCommandWords = 64;
inline constexpr std::size_t kMaxCommandBytes = 4096;
inline constexpr std::size_t kMaxUnitName = 256;
inline constexpr std::size_t kMaxOverrides = 100;
// The longest hold-off or clear time, and the longest a command may run.
inline constexpr Millis kMaxAlarmTime{24LL * 3600 * 1000};
inline constexpr Millis kMaxCommandLimit{3600LL * 1000};
inline constexpr int kMaxLogDays = 36500;

struct ConfigParse {
    std::optional<AlarmSettings> settings;
    // "alarms.conf:12: silence.level must be a number of dB from -52 to 8"
    std::string error;
};
ConfigParse parseAlarmConfig(std::string_view text, std::string_view fileName = kAlarmConfigName);
// A file that parses back to `settings`, every value written.
std::string formatAlarmConfig(const AlarmSettings& settings);
// The "[unit ...]" sections alone, as the file has them.
std::string formatOverrides(const std::vector<UnitOverride>& overrides);
// The units' own settings from text of "[unit ...]" sections alone (the dialog's box); nullopt
// with `error` naming the line ("units:3: ...") otherwise.
std::optional<std::vector<UnitOverride>> parseOverrides(std::string_view text, std::string& error);

// Single values as the file writes them; nullopt when not one. Also the dialog's checks.
// "500ms", "10s", "2m", "1h" or a bare "0"; within 0 .. kMaxAlarmTime.
std::optional<Millis> parseDuration(std::string_view text);
std::string durationText(Millis duration);
// dB from -52 to 8.
std::optional<double> parseLevel(std::string_view text);
std::string levelText(double db);
// Bytes, with an optional K, M or G (binary) suffix.
std::optional<std::uint64_t> parseSize(std::string_view text);
std::string sizeText(std::uint64_t bytes);
// Words split at blanks; double quotes group (\" and \\ inside them), single quotes group
// literally. nullopt on an unclosed quote or a control character.
std::optional<std::vector<std::string>> splitWords(std::string_view text);
// The words written so that splitWords gives them back.
std::string joinWords(const std::vector<std::string>& words);
// What is wrong with a command's words, or its time limit (empty when nothing).
std::string commandProblem(const std::vector<std::string>& words);
std::string commandLimitProblem(Millis limit);

// `$XDG_CONFIG_HOME/<folder>/alarms.conf` when that variable holds an absolute path, else
// `$HOME/.config/<folder>/alarms.conf`; empty when neither gives a place.
std::filesystem::path alarmConfigPath(const char* xdgConfigHome, const char* home,
                                      const char* folder = "qx77zt");
std::filesystem::path alarmConfigPathFromEnvironment(const char* folder = "qx77zt");

struct ConfigLoad {
    enum class Status { Missing, Loaded, Refused } status = Status::Missing;
    // The file's settings when Loaded, else the defaults.
    AlarmSettings settings;
    std::string error;
};
ConfigLoad loadAlarmConfig(const std::filesystem::path& path);
// Replaces the file atomically; empty on success, else why not.
std::string saveAlarmConfig(const std::filesystem::path& path, const AlarmSettings& settings);

} // namespace qx::watch
