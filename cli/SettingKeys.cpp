// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/SettingKeys.h"

#include "cli/Json.h"
#include "panel/PanelModel.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>

namespace qx::cli {

namespace {

// A key whose values are a short list of names, each standing for one record value.
struct ChoiceKey {
    const char* key;
    std::vector<std::string> names;
    std::function<int(const DeviceSettings&)> shown; // index into names, or -1
    std::function<void(DeviceSettings&, int)> set;
};

// Names compare without regard to case or spaces: "sdi#2", "SDI #2" and "-20dB" are all fine on a
// command line where quoting is a chore.
std::string folded(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ') {
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

int indexWithin(int value, std::size_t count) {
    return value >= 0 && static_cast<std::size_t>(value) < count ? value : -1;
}

std::vector<std::string> sourceNames() {
    std::vector<std::string> names;
    for (int i = 0; i < kSourceCount; ++i) {
        names.push_back(sourceName(i));
    }
    return names;
}

int activeSource(const DeviceSettings& s, int side) {
    return s.preset <= 3 ? s.source[sourceSlot(s.preset, side) - 1] : -1;
}

void setActiveSource(DeviceSettings& s, int side, int index) {
    if (s.preset <= 3) {
        s.source[sourceSlot(s.preset, side) - 1] = static_cast<uint8_t>(index);
    }
}

const std::vector<ChoiceKey>& choiceKeys() {
    static const std::vector<ChoiceKey> keys = {
        {"preset",
         {"1", "2", "3", "4"},
         [](const DeviceSettings& s) { return indexWithin(s.preset, 4); },
         [](DeviceSettings& s, int i) { s.preset = static_cast<uint8_t>(i); }},
        {"mute",
         {"off", "on"},
         [](const DeviceSettings& s) { return indexWithin(s.muteOn, 2); },
         [](DeviceSettings& s, int i) { s.muteOn = static_cast<uint8_t>(i); }},
        {"sum",
         {"off", "on"},
         [](const DeviceSettings& s) { return s.monitorMode == 1 ? 1 : 0; },
         [](DeviceSettings& s, int i) {
             if (i == 1 || s.monitorMode == 1) {
                 s.monitorMode = static_cast<uint8_t>(i);
             }
         }},
        {"dif",
         {"off", "on"},
         [](const DeviceSettings& s) { return s.monitorMode == 2 ? 1 : 0; },
         [](DeviceSettings& s, int i) {
             if (i == 1 || s.monitorMode == 2) {
                 s.monitorMode = static_cast<uint8_t>(2 * i);
             }
         }},
        {"dim",
         {"off", "-20 dB", "+20 dB"},
         [](const DeviceSettings& s) { return indexWithin(s.dimMode, 3); },
         [](DeviceSettings& s, int i) { s.dimMode = static_cast<uint8_t>(i); }},
        {"source.left", sourceNames(), [](const DeviceSettings& s) { return activeSource(s, 0); },
         [](DeviceSettings& s, int i) { setActiveSource(s, 0, i); }},
        {"source.right", sourceNames(), [](const DeviceSettings& s) { return activeSource(s, 1); },
         [](DeviceSettings& s, int i) { setActiveSource(s, 1, i); }},
        {"ballistics",
         {"VU", "PPM"},
         [](const DeviceSettings& s) { return s.ballistics != 0 ? 1 : 0; },
         [](DeviceSettings& s, int i) { s.ballistics = static_cast<uint8_t>(i); }},
        {"brightness",
         {"10%", "30%", "50%", "100%"},
         [](const DeviceSettings& s) { return s.brightness & 3; },
         [](DeviceSettings& s, int i) { s.brightness = static_cast<uint8_t>(i); }},
        {"peakhold",
         {"OFF", "Peak", "TruePeak"},
         [](const DeviceSettings& s) { return indexWithin(s.peakHold, 3); },
         [](DeviceSettings& s, int i) { s.peakHold = static_cast<uint8_t>(i); }},
        {"scale",
         {"dB", "dBFS"},
         [](const DeviceSettings& s) { return s.levelScale != 0 ? 1 : 0; },
         [](DeviceSettings& s, int i) { s.levelScale = static_cast<uint8_t>(i); }},
    };
    return keys;
}

const ChoiceKey* choiceKey(std::string_view key) {
    for (const ChoiceKey& k : choiceKeys()) {
        if (key == k.key) {
            return &k;
        }
    }
    return nullptr;
}

bool isGainKey(std::string_view key) {
    return key == "gain.left" || key == "gain.right";
}

std::optional<int> parseGain(std::string_view text) {
    std::string f = folded(text);
    if (f.size() > 2 && f.ends_with("db")) {
        f.resize(f.size() - 2);
    }
    if (!f.empty() && f.front() == '+') {
        f.erase(0, 1);
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), value);
    if (f.empty() || ec != std::errc() || end != f.data() + f.size() ||
        value < panel::kEditorGainMin || value > panel::kEditorGainMax) {
        return std::nullopt;
    }
    return value;
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) {
        out += (out.empty() ? "\"" : ", \"") + n + "\"";
    }
    return out;
}

} // namespace

const std::vector<std::string>& settingKeys() {
    static const std::vector<std::string> keys = {
        "preset",     "mute",       "sum",         "dif",          "dim",
        "gain.left",  "gain.right", "source.left", "source.right", "ballistics",
        "brightness", "peakhold",   "scale"};
    return keys;
}

ParsedChange parseSettingArgument(std::string_view argument) {
    const std::size_t eq = argument.find('=');
    if (eq == std::string_view::npos) {
        return {std::nullopt, "expected KEY=VALUE, got \"" + std::string(argument) + "\""};
    }
    const std::string key(argument.substr(0, eq));
    const std::string_view value = argument.substr(eq + 1);
    if (isGainKey(key)) {
        if (const std::optional<int> gain = parseGain(value)) {
            return {SettingChange{key, std::to_string(*gain)}, {}};
        }
        return {std::nullopt, key + " takes a whole number of dB from " +
                                  std::to_string(panel::kEditorGainMin) + " to " +
                                  std::to_string(panel::kEditorGainMax) + ", not \"" +
                                  std::string(value) + "\""};
    }
    const ChoiceKey* choice = choiceKey(key);
    if (choice == nullptr) {
        std::string known;
        for (const std::string& k : settingKeys()) {
            known += (known.empty() ? "" : ", ") + k;
        }
        return {std::nullopt, "unknown setting \"" + key + "\" (known: " + known + ")"};
    }
    const std::string wanted = folded(value);
    for (const std::string& name : choice->names) {
        if (folded(name) == wanted) {
            return {SettingChange{key, name}, {}};
        }
    }
    return {std::nullopt, key + " takes one of " + joined(choice->names) + ", not \"" +
                              std::string(value) + "\""};
}

void applySettingChange(const SettingChange& change, DeviceSettings& s) {
    if (isGainKey(change.key)) {
        const auto gain = static_cast<int8_t>(parseGain(change.value).value_or(0));
        (change.key == "gain.left" ? s.gainLeft : s.gainRight) = gain;
        return;
    }
    if (const ChoiceKey* choice = choiceKey(change.key)) {
        const auto at = std::find(choice->names.begin(), choice->names.end(), change.value);
        if (at != choice->names.end()) {
            choice->set(s, static_cast<int>(at - choice->names.begin()));
        }
    }
}

std::vector<ShownSetting> showSettings(const DeviceSettings& s) {
    std::vector<ShownSetting> shown;
    for (const std::string& key : settingKeys()) {
        if (isGainKey(key)) {
            shown.push_back({key, std::to_string(key == "gain.left" ? s.gainLeft : s.gainRight)});
            continue;
        }
        const ChoiceKey& choice = *choiceKey(key);
        const int index = choice.shown(s);
        if (index >= 0 && static_cast<std::size_t>(index) < choice.names.size()) {
            shown.push_back({key, choice.names[static_cast<std::size_t>(index)]});
        } else {
            // The byte as it is; a preset beyond the fourth has no source of its own at all.
            const int raw = key == "preset"     ? s.preset
                            : key == "mute"     ? s.muteOn
                            : key == "dim"      ? s.dimMode
                            : key == "peakhold" ? s.peakHold
                            : key.starts_with("source.")
                                ? activeSource(s, key == "source.left" ? 0 : 1)
                                : -1;
            if (raw < 0) {
                shown.push_back({key, "unknown"});
                continue;
            }
            shown.push_back({key, "unknown (" + std::to_string(raw) + ")"});
        }
    }
    return shown;
}

std::string settingsJson(const DeviceSettings& s) {
    std::string out = "{";
    for (const ShownSetting& item : showSettings(s)) {
        out += (out.size() > 1 ? "," : "") + jsonString(item.key) + ":";
        const bool known = !item.value.starts_with("unknown");
        if (isGainKey(item.key) || (item.key == "preset" && known)) {
            out += item.value;
        } else if ((item.key == "mute" || item.key == "sum" || item.key == "dif") && known) {
            out += item.value == "on" ? "true" : "false";
        } else {
            out += jsonString(item.value);
        }
    }
    return out + "}";
}

std::string levelReading(int level) {
    const std::optional<std::string> label = panel::levelLabel(level);
    if (!label) {
        return "over";
    }
    std::string text = *label;
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

} // namespace qx::cli
