// SPDX-License-Identifier: GPL-3.0-or-later
#include "state/UnitLabels.h"

#include "state/FieldText.h"
#include "state/SettingsMemory.h"
#include "state/StateFiles.h"
#include "state/Utf8Path.h"

#include <algorithm>

namespace qx::state {

namespace {

constexpr std::string_view kHeader = "qx77zt unit labels 1";

// The code points of `text`, or nullopt when it is not UTF-8 (overlong forms, surrogates and
// values past U+10FFFF included).
std::optional<std::vector<char32_t>> codePoints(std::string_view text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t value = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            length = 1;
            value = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            value = lead & 0x1F;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            value = lead & 0x0F;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            value = lead & 0x07;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i < length) {
            return std::nullopt;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) {
                return std::nullopt;
            }
            value = (value << 6) | (c & 0x3F);
        }
        if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            return std::nullopt;
        }
        out.push_back(value);
        i += length;
    }
    return out;
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// UTF-8 without control characters: what may be shown in a title, a list or a terminal.
std::string textProblem(std::string_view text, std::size_t maxCharacters, const char* what) {
    const auto points = codePoints(text);
    if (!points) {
        return std::string(what) + " is not UTF-8 text";
    }
    if (std::any_of(points->begin(), points->end(), isControl)) {
        return std::string(what) + " holds a control character";
    }
    if (points->size() > maxCharacters) {
        return std::string(what) + " is longer than " + std::to_string(maxCharacters) +
               " characters";
    }
    return {};
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

bool sameKey(const UnitLabel& r, std::string_view serial, std::string_view place) {
    return r.serial == serial && r.place == place;
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

std::string labelProblem(std::string_view label) {
    return textProblem(label, kMaxLabelCharacters, "the label");
}

std::string recordProblem(const UnitLabel& r) {
    if (r.serial.empty() || r.serial.size() > kMaxSerialLength) {
        return "the serial number is empty or too long";
    }
    if (r.place.size() > kMaxPlaceLength) {
        return "the place is too long";
    }
    if (std::string problem = labelProblem(r.label); !problem.empty()) {
        return problem;
    }
    if (r.profile.size() > kMaxProfileLength) {
        return "the settings file's path is too long";
    }
    if (std::string problem = textProblem(r.profile, kMaxProfileLength, "the settings file's path");
        !problem.empty()) {
        return problem;
    }
    if (!r.profile.empty() && !utf8Path(r.profile).is_absolute()) {
        return "the settings file's path is not absolute";
    }
    if (r.applyProfile && r.profile.empty()) {
        return "no settings file is given to write to the unit";
    }
    if (r.label.empty() && r.profile.empty()) {
        return "the record holds neither a label nor a settings file";
    }
    return {};
}

LabelsParse parseUnitLabels(std::span<const std::uint8_t> file) {
    LabelsParse out;
    std::vector<UnitLabel> records;
    const auto lines = headedLines(
        file, {kMaxLabelsFileSize, kHeader, kLabelledUnits, "a unit label file", "units"},
        out.error);
    if (!lines) {
        return out;
    }
    for (std::size_t i = 1; i < lines->size(); ++i) {
        const std::string where = "line " + std::to_string(i + 1);
        const auto fields = lineFields((*lines)[i]);
        if (!fields || fields->size() != 5 || ((*fields)[3] != "0" && (*fields)[3] != "1")) {
            out.error = where + " is damaged";
            return out;
        }
        UnitLabel r;
        r.applyProfile = (*fields)[3] == "1";
        for (const auto& [field, text] : {std::pair{0, &r.serial}, std::pair{1, &r.place},
                                          std::pair{2, &r.label}, std::pair{4, &r.profile}}) {
            auto value = unescapeField((*fields)[static_cast<std::size_t>(field)]);
            if (!value) {
                out.error = where + " is damaged";
                return out;
            }
            *text = std::move(*value);
        }
        if (const std::string problem = recordProblem(r); !problem.empty()) {
            out.error = where + " is damaged: " + problem;
            return out;
        }
        if (std::any_of(records.begin(), records.end(),
                        [&](const UnitLabel& o) { return sameKey(o, r.serial, r.place); })) {
            out.error = where + " repeats a unit";
            return out;
        }
        records.push_back(std::move(r));
    }
    out.ok = true;
    out.records = std::move(records);
    return out;
}

std::string formatUnitLabels(const std::vector<UnitLabel>& records) {
    std::string out(kHeader);
    out += '\n';
    for (const UnitLabel& r : records) {
        out += escapeField(r.serial) + ' ' + escapeField(r.place) + ' ' + escapeField(r.label) +
               ' ' + (r.applyProfile ? '1' : '0') + ' ' + escapeField(r.profile) + '\n';
    }
    return out;
}

UnitLabels::UnitLabels(std::filesystem::path file) : file_(std::move(file)) {}

std::string UnitLabels::load() {
    std::lock_guard lock(mutex_);
    return loadLocked();
}

std::string UnitLabels::loadLocked() {
    keptBecause_.clear();
    if (file_.empty()) {
        return {};
    }
    std::vector<UnitLabel> read;
    const StateLoad loaded =
        loadStateFile(file_, kMaxLabelsFileSize, [&read](std::span<const std::uint8_t> bytes) {
            LabelsParse parsed = parseUnitLabels(bytes);
            if (parsed.ok) {
                read = std::move(parsed.records);
            }
            return parsed.error;
        });
    switch (loaded.status) {
    case StateLoad::Status::Missing:
    case StateLoad::Status::Loaded:
        records_ = std::move(read);
        return {};
    case StateLoad::Status::SetAside:
        records_.clear();
        return "The unit labels in " + file_.string() +
               " are damaged and are ignored: " + loaded.why + ". They were moved to " +
               loaded.aside.string() + ".";
    case StateLoad::Status::Kept:
        break;
    }
    // What this run kept so far stays: it is all that is known.
    keptBecause_ = loaded.why;
    return "The unit labels in " + file_.string() + " cannot be read and are ignored (" +
           loaded.why + "). The file is left as it is and not written while it cannot be read.";
}

std::string UnitLabels::refreshLocked() {
    // A file that could not be read stays untouched for the run, even once it can be.
    return keptBecause_.empty() ? loadLocked() : std::string();
}

std::optional<UnitLabel> UnitLabels::find(std::string_view serial, std::string_view place) const {
    std::lock_guard lock(mutex_);
    for (const std::string_view p : {place, std::string_view()}) {
        for (const UnitLabel& r : records_) {
            if (sameKey(r, serial, p)) {
                return r;
            }
        }
    }
    return std::nullopt;
}

std::vector<UnitLabel> UnitLabels::all() const {
    std::lock_guard lock(mutex_);
    return records_;
}

LabelChange UnitLabels::set(const UnitLabel& record) {
    if (record.label.empty() && record.profile.empty() && !record.applyProfile) {
        return remove(record.serial, record.place);
    }
    if (std::string problem = recordProblem(record); !problem.empty()) {
        return {LabelChange::Status::Refused, std::move(problem), {}};
    }
    // Held over the write too, so that two changes cannot reach the disk in the wrong order.
    std::lock_guard lock(mutex_);
    std::string notice = refreshLocked();
    if (!record.label.empty()) {
        const auto other = std::find_if(records_.begin(), records_.end(), [&](const UnitLabel& r) {
            return !sameKey(r, record.serial, record.place) &&
                   sameIgnoringCase(r.label, record.label);
        });
        if (other != records_.end()) {
            return {LabelChange::Status::Refused,
                    "\"" + other->label + "\" is already the label of unit " + other->serial,
                    std::move(notice)};
        }
    }
    const auto it = std::find_if(records_.begin(), records_.end(), [&](const UnitLabel& r) {
        return sameKey(r, record.serial, record.place);
    });
    if (it != records_.end()) {
        *it = record;
    } else if (records_.size() == kLabelledUnits) {
        // An operator's label is never dropped to make room for another.
        return {LabelChange::Status::Refused,
                "labels are kept for at most " + std::to_string(kLabelledUnits) +
                    " units: clear one first",
                std::move(notice)};
    } else {
        records_.push_back(record);
    }
    return writeLocked(std::move(notice));
}

LabelChange UnitLabels::remove(std::string_view serial, std::string_view place) {
    std::lock_guard lock(mutex_);
    std::string notice = refreshLocked();
    const auto it = std::find_if(records_.begin(), records_.end(),
                                 [&](const UnitLabel& r) { return sameKey(r, serial, place); });
    if (it == records_.end()) {
        return {LabelChange::Status::Done, {}, std::move(notice)};
    }
    records_.erase(it);
    return writeLocked(std::move(notice));
}

LabelChange UnitLabels::writeLocked(std::string notice) {
    if (file_.empty()) {
        return {LabelChange::Status::Done, {}, std::move(notice)};
    }
    if (!keptBecause_.empty()) {
        return {LabelChange::Status::NotWritten,
                "the unit labels in " + file_.string() +
                    " could not be read and are left as they are (" + keptBecause_ + ")",
                std::move(notice)};
    }
    const WriteOutcome w = replaceFile(file_, bytesOf(formatUnitLabels(records_)));
    if (!w.ok) {
        return {LabelChange::Status::NotWritten,
                "the unit labels cannot be written to " + file_.string() + ": " + w.error,
                std::move(notice)};
    }
    return {LabelChange::Status::Done, {}, std::move(notice)};
}

UnitMatch matchUnit(std::string_view typed, std::span<const NamedUnit> units) {
    using Rule = UnitMatch::Rule;
    UnitMatch out;
    const std::pair<Rule, bool (*)(const NamedUnit&, std::string_view)> rules[] = {
        {Rule::Serial, [](const NamedUnit& u, std::string_view t) { return u.serial == t; }},
        {Rule::Place,
         [](const NamedUnit& u, std::string_view t) { return !u.place.empty() && u.place == t; }},
        {Rule::Label,
         [](const NamedUnit& u, std::string_view t) { return !u.label.empty() && u.label == t; }},
        {Rule::LabelIgnoringCase,
         [](const NamedUnit& u, std::string_view t) {
             return !u.label.empty() && sameIgnoringCase(u.label, t);
         }},
    };
    if (!typed.empty()) {
        for (const auto& [rule, names] : rules) {
            for (std::size_t i = 0; i < units.size(); ++i) {
                if (names(units[i], typed)) {
                    out.units.push_back(i);
                }
            }
            if (!out.units.empty()) {
                out.rule = rule;
                break;
            }
        }
    }
    if (out.units.empty()) {
        out.error = "no unit has the serial number, place or label \"" + std::string(typed) + "\"";
    } else if (out.units.size() > 1) {
        out.error =
            "\"" + std::string(typed) + "\" names " + std::to_string(out.units.size()) + " units:";
        for (std::size_t i = 0; i < out.units.size(); ++i) {
            out.error += (i == 0 ? " " : ", ") + unitName(units[out.units[i]]);
        }
        out.error += out.rule == Rule::Serial ? "; name one by where it is plugged in"
                                              : "; name one by its serial number";
    }
    return out;
}

std::string unitName(const NamedUnit& unit) {
    std::string out = unit.serial;
    if (!unit.place.empty()) {
        out += " at " + unit.place;
    }
    if (!unit.label.empty()) {
        out += " \"" + unit.label + "\"";
    }
    return out;
}

} // namespace qx::state
