// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/AlarmConfig.h"

#include "state/StateFiles.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <span>

namespace qx::watch {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

bool isControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
}

// Where the comment of a line begins: the first '#' outside quotes, read as splitWords reads
// them; npos when there is none.
std::size_t commentStart(std::string_view line) {
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == '"') {
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                ++i;
            } else if (c == '"') {
                quote = 0;
            }
        } else if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '#') {
            return i;
        }
    }
    return std::string_view::npos;
}

// A word that needs no quotes.
bool plainWord(std::string_view word) {
    return !word.empty() && word.find_first_of(" \t\"'#\\") == std::string_view::npos;
}

std::string quotedWord(std::string_view word) {
    std::string out = "\"";
    for (const char c : word) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

std::optional<std::uint64_t> digits(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::optional<bool> onOff(std::string_view text) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

enum class RuleField { On, After, Clear, Level, Channels };

struct RuleKey {
    AlarmKind kind;
    RuleField field;
};

std::optional<RuleKey> ruleKey(std::string_view key) {
    const auto dot = key.find('.');
    const auto kind = alarmFromWord(key.substr(0, dot));
    if (!kind) {
        return std::nullopt;
    }
    if (dot == std::string_view::npos) {
        return RuleKey{*kind, RuleField::On};
    }
    const std::string_view field = key.substr(dot + 1);
    if (field == "after") {
        return RuleKey{*kind, RuleField::After};
    }
    if (field == "clear") {
        return RuleKey{*kind, RuleField::Clear};
    }
    if (*kind == AlarmKind::Silence && field == "level") {
        return RuleKey{*kind, RuleField::Level};
    }
    if (*kind == AlarmKind::Silence && field == "channels") {
        return RuleKey{*kind, RuleField::Channels};
    }
    return std::nullopt;
}

// The value of one rule key, stored into an override; the common rules are an override with
// every field given.
std::string applyRule(const RuleKey& k, std::string_view key, std::string_view value,
                      UnitOverride& into) {
    RuleOverride& rule = into.rule[indexOf(k.kind)];
    switch (k.field) {
    case RuleField::On:
        if (const auto on = onOff(value)) {
            rule.on = *on;
            return {};
        }
        return std::string(key) + " must be on or off";
    case RuleField::After:
    case RuleField::Clear:
        if (const auto d = parseDuration(value)) {
            (k.field == RuleField::After ? rule.after : rule.clear) = *d;
            return {};
        }
        return std::string(key) + " must be a time such as 500ms, 10s, 2m or 1h, at most 24h";
    case RuleField::Level:
        if (const auto db = parseLevel(value)) {
            into.silenceLevelDb = *db;
            return {};
        }
        return std::string(key) + " must be a number of dB from -52 to 8";
    case RuleField::Channels:
        if (value == "both" || value == "either") {
            into.silenceChannels =
                value == "both" ? SilenceChannels::Both : SilenceChannels::Either;
            return {};
        }
        return std::string(key) + " must be both or either";
    }
    return "unknown key";
}

void applyOverride(const UnitOverride& o, AlarmRules& rules) {
    for (const AlarmKind kind : kAllAlarms) {
        const RuleOverride& r = o.rule[indexOf(kind)];
        AlarmRule& into = rules[kind];
        into.on = r.on.value_or(into.on);
        into.after = r.after.value_or(into.after);
        into.clear = r.clear.value_or(into.clear);
    }
    rules.silenceLevelDb = o.silenceLevelDb.value_or(rules.silenceLevelDb);
    rules.silenceChannels = o.silenceChannels.value_or(rules.silenceChannels);
}

std::string applyAction(std::string_view key, std::string_view value, AlarmActions& actions) {
    if (key == "notify") {
        if (const auto on = onOff(value)) {
            actions.notify = *on;
            return {};
        }
        return "notify must be on or off";
    }
    if (key == "command") {
        auto words = splitWords(value);
        if (!words) {
            return "command has a quote that is not closed";
        }
        if (std::string why = commandProblem(*words); !why.empty()) {
            return why;
        }
        actions.command = std::move(*words);
        return {};
    }
    if (key == "command.limit") {
        const auto d = parseDuration(value);
        if (!d || !commandLimitProblem(*d).empty()) {
            return "command.limit must be a time from 100ms to 1h";
        }
        actions.commandLimit = *d;
        return {};
    }
    return "unknown key '" + std::string(key) + "' in [actions]";
}

std::string applyLog(std::string_view key, std::string_view value, LogLimits& log) {
    if (key == "max-days") {
        const auto days = digits(value, 6);
        if (!days || *days < 1 || *days > static_cast<std::uint64_t>(kMaxLogDays)) {
            return "max-days must be a whole number of days from 1 to " +
                   std::to_string(kMaxLogDays);
        }
        log.maxDays = static_cast<int>(*days);
        return {};
    }
    if (key == "max-size") {
        const auto bytes = parseSize(value);
        if (!bytes || *bytes < (1ULL << 20) || *bytes > (1ULL << 40)) {
            return "max-size must be a size from 1M to 1024G such as 512M (K, M, G)";
        }
        log.maxBytes = *bytes;
        return {};
    }
    return "unknown key '" + std::string(key) + "' in [log]";
}

// The unit's name in a "[unit ...]" line: quoted, or the rest of the line as it stands.
std::optional<std::string> unitName(std::string_view rest) {
    rest = trimmed(rest);
    if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
        const auto words = splitWords(rest);
        if (!words || words->size() != 1 || words->front().empty()) {
            return std::nullopt;
        }
        return words->front();
    }
    if (rest.empty()) {
        return std::nullopt;
    }
    return std::string(rest);
}

bool plainName(std::string_view name) {
    return !name.empty() && name == trimmed(name) &&
           name.find_first_of("\"'#\\") == std::string_view::npos;
}

} // namespace

std::string_view alarmWord(AlarmKind kind) {
    switch (kind) {
    case AlarmKind::Silence:
        return "silence";
    case AlarmKind::Over:
        return "over";
    case AlarmKind::Lost:
        return "lost";
    case AlarmKind::BootLoader:
        return "boot-loader";
    }
    return "";
}

std::optional<AlarmKind> alarmFromWord(std::string_view word) {
    for (const AlarmKind kind : kAllAlarms) {
        if (alarmWord(kind) == word) {
            return kind;
        }
    }
    return std::nullopt;
}

AlarmRules AlarmSettings::rulesFor(std::string_view serial, std::string_view label) const {
    AlarmRules out = rules;
    for (const std::string_view name : {serial, label}) {
        if (name.empty()) {
            continue;
        }
        for (const UnitOverride& o : overrides) {
            if (o.unit == name) {
                applyOverride(o, out);
            }
        }
    }
    return out;
}

std::optional<Millis> parseDuration(std::string_view text) {
    text = trimmed(text);
    if (text == "0") {
        return Millis(0);
    }
    std::size_t end = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
        ++end;
    }
    const auto number = digits(text.substr(0, end), 9);
    if (!number) {
        return std::nullopt;
    }
    const std::string_view unit = text.substr(end);
    std::int64_t scale = 0;
    if (unit == "ms") {
        scale = 1;
    } else if (unit == "s") {
        scale = 1000;
    } else if (unit == "m") {
        scale = 60'000;
    } else if (unit == "h") {
        scale = 3'600'000;
    } else {
        return std::nullopt;
    }
    const Millis d(static_cast<std::int64_t>(*number) * scale);
    if (d > kMaxAlarmTime) {
        return std::nullopt;
    }
    return d;
}

std::string durationText(Millis duration) {
    const std::int64_t ms = duration.count();
    if (ms == 0) {
        return "0s";
    }
    if (ms % 3'600'000 == 0) {
        return std::to_string(ms / 3'600'000) + "h";
    }
    if (ms % 60'000 == 0) {
        return std::to_string(ms / 60'000) + "m";
    }
    if (ms % 1000 == 0) {
        return std::to_string(ms / 1000) + "s";
    }
    return std::to_string(ms) + "ms";
}

std::optional<double> parseLevel(std::string_view text) {
    text = trimmed(text);
    if (text.size() >= 2 && text.substr(text.size() - 2) == "dB") {
        text = trimmed(text.substr(0, text.size() - 2));
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 32) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (!(value >= kLowestLevelDb && value <= kHighestLevelDb)) {
        return std::nullopt;
    }
    return value == 0 ? 0.0 : value; // no "-0"
}

std::string levelText(double db) {
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, db, std::chars_format::fixed);
    if (ec != std::errc()) {
        return "0";
    }
    return std::string(buffer, end);
}

std::optional<std::uint64_t> parseSize(std::string_view text) {
    text = trimmed(text);
    std::uint64_t scale = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K':
        case 'k':
            scale = 1ULL << 10;
            break;
        case 'M':
        case 'm':
            scale = 1ULL << 20;
            break;
        case 'G':
        case 'g':
            scale = 1ULL << 30;
            break;
        default:
            break;
        }
    }
    if (scale != 1) {
        text.remove_suffix(1);
    }
    const auto number = digits(text, 15);
    if (!number) {
        return std::nullopt;
    }
    if (*number > UINT64_MAX / scale) {
        return std::nullopt;
    }
    return *number * scale;
}

std::string sizeText(std::uint64_t bytes) {
    if (bytes != 0) {
        for (const auto& [shift, suffix] : {std::pair{30, 'G'}, {20, 'M'}, {10, 'K'}}) {
            if (bytes % (1ULL << shift) == 0) {
                return std::to_string(bytes >> shift) + suffix;
            }
        }
    }
    return std::to_string(bytes);
}

std::optional<std::vector<std::string>> splitWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t') {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            continue;
        }
        if (isControl(c)) {
            return std::nullopt;
        }
        inWord = true;
        if (c == '"' || c == '\'') {
            const char quote = c;
            bool closed = false;
            for (++i; i < text.size(); ++i) {
                const char q = text[i];
                if (isControl(q)) {
                    return std::nullopt;
                }
                if (q == quote) {
                    closed = true;
                    break;
                }
                if (quote == '"' && q == '\\' && i + 1 < text.size() &&
                    (text[i + 1] == '"' || text[i + 1] == '\\')) {
                    ++i;
                    word += text[i];
                    continue;
                }
                word += q;
            }
            if (!closed) {
                return std::nullopt;
            }
            continue;
        }
        word += c;
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string joinWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        if (!out.empty()) {
            out += ' ';
        }
        out += plainWord(w) ? w : quotedWord(w);
    }
    return out;
}

std::string commandProblem(const std::vector<std::string>& words) {
    if (words.size() > kMaxCommandWords) {
        return "command has more than " + std::to_string(kMaxCommandWords) + " words";
    }
    std::size_t bytes = 0;
    for (const std::string& w : words) {
        bytes += w.size();
    }
    if (bytes > kMaxCommandBytes) {
        return "command is longer than " + std::to_string(kMaxCommandBytes) + " bytes";
    }
    if (!words.empty() && words.front().empty()) {
        return "command must start with the program to run";
    }
    return {};
}

std::string commandLimitProblem(Millis limit) {
    if (limit < Millis(100) || limit > kMaxCommandLimit) {
        return "the command's time limit must be from 100ms to 1h";
    }
    return {};
}

ConfigParse parseAlarmConfig(std::string_view text, std::string_view fileName) {
    ConfigParse out;
    if (text.size() > kMaxConfigBytes) {
        out.error = std::string(fileName) + ": larger than " +
                    std::to_string(kMaxConfigBytes / 1024) + " KiB";
        return out;
    }
    enum class Section { None, Alarms, Unit, Actions, Log } section = Section::None;
    AlarmSettings settings;
    // The common rules are read as an override with every field given, then applied.
    UnitOverride common;
    for (const AlarmKind kind : kAllAlarms) {
        const AlarmRule& r = settings.rules[kind];
        common.rule[indexOf(kind)] = RuleOverride{r.on, r.after, r.clear};
    }
    common.silenceLevelDb = settings.rules.silenceLevelDb;
    common.silenceChannels = settings.rules.silenceChannels;
    UnitOverride* unit = nullptr;

    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        ++lineNo;
        const auto newline = text.find('\n', pos);
        std::string_view line = text.substr(
            pos, newline == std::string_view::npos ? std::string_view::npos : newline - pos);
        pos = newline == std::string_view::npos ? text.size() : newline + 1;
        const auto fail = [&](const std::string& why) {
            out.error = std::string(fileName) + ":" + std::to_string(lineNo) + ": " + why;
            return out;
        };
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > kMaxConfigLine) {
            return fail("the line is longer than " + std::to_string(kMaxConfigLine) + " bytes");
        }
        if (std::any_of(line.begin(), line.end(), isControl)) {
            return fail("the line holds a control character");
        }
        line = trimmed(line.substr(0, commentStart(line)));
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                return fail("a section line must end with ']'");
            }
            const std::string_view inner = trimmed(line.substr(1, line.size() - 2));
            unit = nullptr;
            if (inner == "alarms") {
                section = Section::Alarms;
            } else if (inner == "actions") {
                section = Section::Actions;
            } else if (inner == "log") {
                section = Section::Log;
            } else if (inner.substr(0, 4) == "unit" &&
                       (inner.size() == 4 || inner[4] == ' ' || inner[4] == '\t')) {
                const auto name = unitName(inner.substr(4));
                if (!name) {
                    return fail("[unit] needs the unit's serial number or label");
                }
                if (name->size() > kMaxUnitName) {
                    return fail("the unit's name is longer than " + std::to_string(kMaxUnitName) +
                                " bytes");
                }
                section = Section::Unit;
                const auto known =
                    std::find_if(settings.overrides.begin(), settings.overrides.end(),
                                 [&](const UnitOverride& o) { return o.unit == *name; });
                if (known != settings.overrides.end()) {
                    unit = &*known;
                } else {
                    if (settings.overrides.size() >= kMaxOverrides) {
                        return fail("more than " + std::to_string(kMaxOverrides) +
                                    " units have settings of their own");
                    }
                    settings.overrides.push_back(UnitOverride{});
                    settings.overrides.back().unit = *name;
                    unit = &settings.overrides.back();
                }
            } else {
                return fail("unknown section [" + std::string(inner) +
                            "]; the sections are [alarms], [unit SERIAL-OR-LABEL], [actions] "
                            "and [log]");
            }
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            return fail("expected 'key = value'");
        }
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        std::string why;
        switch (section) {
        case Section::None:
            why = "'" + std::string(key) + "' comes before any section such as [alarms]";
            break;
        case Section::Alarms:
        case Section::Unit:
            if (const auto k = ruleKey(key)) {
                why = applyRule(*k, key, value, section == Section::Unit ? *unit : common);
            } else {
                why = "unknown key '" + std::string(key) + "' in [" +
                      (section == Section::Unit ? "unit" : "alarms") + "]";
            }
            break;
        case Section::Actions:
            why = applyAction(key, value, settings.actions);
            break;
        case Section::Log:
            why = applyLog(key, value, settings.log);
            break;
        }
        if (!why.empty()) {
            return fail(why);
        }
    }
    applyOverride(common, settings.rules);
    out.settings = std::move(settings);
    return out;
}

namespace {

// The lines of every field an override gives, in the order the common rules are written.
void overrideLines(std::string& out, const UnitOverride& o) {
    for (const AlarmKind kind : kAllAlarms) {
        const RuleOverride& r = o.rule[indexOf(kind)];
        const std::string name(alarmWord(kind));
        if (r.on) {
            out += name + " = " + (*r.on ? "on" : "off") + "\n";
        }
        if (r.after) {
            out += name + ".after = " + durationText(*r.after) + "\n";
        }
        if (r.clear) {
            out += name + ".clear = " + durationText(*r.clear) + "\n";
        }
        if (kind != AlarmKind::Silence) {
            continue;
        }
        if (o.silenceLevelDb) {
            out += "silence.level = " + levelText(*o.silenceLevelDb) + "\n";
        }
        if (o.silenceChannels) {
            out += std::string("silence.channels = ") +
                   (*o.silenceChannels == SilenceChannels::Both ? "both" : "either") + "\n";
        }
    }
}

} // namespace

std::string formatOverrides(const std::vector<UnitOverride>& overrides) {
    std::string out;
    for (const UnitOverride& o : overrides) {
        if (!out.empty()) {
            out += "\n";
        }
        out += "[unit " + (plainName(o.unit) ? o.unit : quotedWord(o.unit)) + "]\n";
        overrideLines(out, o);
    }
    return out;
}

std::string formatAlarmConfig(const AlarmSettings& settings) {
    std::string out = "# Alarms of the QX-77ZT units. '#' starts a comment.\n[alarms]\n";
    UnitOverride common;
    for (const AlarmKind kind : kAllAlarms) {
        const AlarmRule& r = settings.rules[kind];
        common.rule[indexOf(kind)] = RuleOverride{r.on, r.after, r.clear};
    }
    common.silenceLevelDb = settings.rules.silenceLevelDb;
    common.silenceChannels = settings.rules.silenceChannels;
    overrideLines(out, common);
    if (!settings.overrides.empty()) {
        out += "\n" + formatOverrides(settings.overrides);
    }
    out += "\n[actions]\n";
    out += std::string("notify = ") + (settings.actions.notify ? "on" : "off") + "\n";
    if (!settings.actions.command.empty()) {
        out += "command = " + joinWords(settings.actions.command) + "\n";
    }
    out += "command.limit = " + durationText(settings.actions.commandLimit) + "\n";
    out += "\n[log]\n";
    out += "max-days = " + std::to_string(settings.log.maxDays) + "\n";
    out += "max-size = " + sizeText(settings.log.maxBytes) + "\n";
    return out;
}

std::optional<std::vector<UnitOverride>> parseOverrides(std::string_view text, std::string& error) {
    // Each line is checked to lie inside a [unit] section, so that no common setting slips in.
    std::size_t lineNo = 0;
    bool inUnit = false;
    for (std::size_t pos = 0; pos < text.size();) {
        ++lineNo;
        const auto newline = text.find('\n', pos);
        std::string_view line = text.substr(
            pos, newline == std::string_view::npos ? std::string_view::npos : newline - pos);
        pos = newline == std::string_view::npos ? text.size() : newline + 1;
        line = trimmed(line.substr(0, commentStart(line)));
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            inUnit = line.substr(0, 5) == "[unit";
        }
        if (!inUnit) {
            error = "units:" + std::to_string(lineNo) +
                    ": only [unit SERIAL-OR-LABEL] sections and their settings belong here";
            return std::nullopt;
        }
    }
    ConfigParse parsed = parseAlarmConfig(text, "units");
    if (!parsed.settings) {
        error = parsed.error;
        return std::nullopt;
    }
    return std::move(parsed.settings->overrides);
}

std::filesystem::path alarmConfigPath(const char* xdgConfigHome, const char* home,
                                      const char* folder) {
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        return std::filesystem::path(xdgConfigHome) / folder / kAlarmConfigName;
    }
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".config" / folder / kAlarmConfigName;
    }
    return {};
}

std::filesystem::path alarmConfigPathFromEnvironment(const char* folder) {
    return alarmConfigPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), folder);
}

ConfigLoad loadAlarmConfig(const std::filesystem::path& path) {
    ConfigLoad out;
    // Read as any config file is: a link to the operator's own copy is followed.
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return out;
    }
    out.status = ConfigLoad::Status::Refused;
    const std::string name = path.filename().string();
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || !std::filesystem::is_regular_file(path, ec)) {
        out.error = name + ": cannot be read: not a plain file";
        return out;
    }
    if (size > kMaxConfigBytes) {
        out.error = name + ": larger than " + std::to_string(kMaxConfigBytes / 1024) + " KiB";
        return out;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (!in || in.peek() != std::char_traits<char>::eof()) {
        out.error = name + ": cannot be read";
        return out;
    }
    ConfigParse parsed = parseAlarmConfig(text, name);
    if (!parsed.settings) {
        out.error = std::move(parsed.error);
        return out;
    }
    out.status = ConfigLoad::Status::Loaded;
    out.settings = std::move(*parsed.settings);
    return out;
}

std::string saveAlarmConfig(const std::filesystem::path& path, const AlarmSettings& settings) {
    const std::string text = formatAlarmConfig(settings);
    const state::WriteOutcome w = state::replaceFile(
        path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    return w.ok ? std::string{} : path.string() + ": " + w.error;
}

} // namespace qx::watch
