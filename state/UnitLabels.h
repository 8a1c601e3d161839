// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's names for the units, by serial number, kept between runs beside the settings
// memory: a label to tell the units apart, and optionally a settings file to write to the unit
// whenever it connects in normal mode. Where two devices report the same serial number, a record
// may also name where the unit is plugged in.
//
// File: the line "qx77zt unit labels 1", then one line per unit:
// <serial> <place> <label> <apply: 0|1> <profile>, each field escaped ("%" when empty).
//
// Plain C++ without Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx::state {

inline constexpr const char* kLabelsFileName = "unit-labels";
inline constexpr std::size_t kLabelledUnits = 64;
// In characters (UTF-8 code points), so that every label fits a window title or a strip.
inline constexpr std::size_t kMaxLabelCharacters = 64;
inline constexpr std::size_t kMaxPlaceLength = 255;
inline constexpr std::size_t kMaxProfileLength = 4096;
// Room for kLabelledUnits records with every field at its longest, escaped.
inline constexpr std::size_t kMaxLabelsFileSize = 1024 * 1024;

struct UnitLabel {
    std::string serial;
    // Where the unit is plugged in; empty: any unit of this serial number.
    std::string place;
    std::string label;   // UTF-8; empty: none
    std::string profile; // absolute path of a settings file; empty: none
    bool applyProfile = false;
    friend bool operator==(const UnitLabel&, const UnitLabel&) = default;
};

// What is wrong with a label as the operator typed it: not UTF-8, a control character, longer
// than kMaxLabelCharacters. Empty when it may be kept.
std::string labelProblem(std::string_view label);
// The same for a whole record: the label, a serial number that is empty or too long, a place
// too long, a profile that is not an absolute path, one to apply that is not given, or a
// record that holds neither a label nor a profile.
std::string recordProblem(const UnitLabel& record);

struct LabelsParse {
    bool ok = false;
    std::vector<UnitLabel> records;
    std::string error; // what is wrong when !ok
};

LabelsParse parseUnitLabels(std::span<const std::uint8_t> file);
std::string formatUnitLabels(const std::vector<UnitLabel>& records);

struct LabelChange {
    enum class Status {
        Done,
        // Not kept: the record is not valid, its label is another unit's, or every place is
        // taken. Nothing changed.
        Refused,
        // Kept for this run but not written (the file could not be read or written).
        NotWritten,
    } status = Status::Done;
    std::string error;  // why, unless Done
    std::string notice; // what the re-read of the file found wrong with it, as load() says
};

class UnitLabels {
public:
    // An empty path keeps everything in memory only.
    explicit UnitLabels(std::filesystem::path file);

    // Reads the file. Returns a message for the operator when it is damaged or unreadable (its
    // contents are then ignored); empty otherwise. A damaged file is moved aside and the next
    // change writes a new one; one that cannot be read is left as it is and not written over.
    std::string load();
    // The record of (serial, place); when there is none, the one of `serial` for any place.
    std::optional<UnitLabel> find(std::string_view serial, std::string_view place = {}) const;
    // Keeps `record` under its (serial, place), replacing what was there; a record without a
    // label or a profile is removed instead. The file is read again first, so that a change
    // another program made meanwhile is kept (unless it could not be read at the last load():
    // it is then left alone, and changes are kept in memory only, until the next load()).
    LabelChange set(const UnitLabel& record);
    LabelChange remove(std::string_view serial, std::string_view place = {});
    std::vector<UnitLabel> all() const;
    const std::filesystem::path& file() const { return file_; }

private:
    std::string loadLocked();
    std::string refreshLocked();
    LabelChange writeLocked(std::string notice);

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::vector<UnitLabel> records_; // guarded by mutex_; in the order they were first kept
    // Why the file was left as it is; empty when it may be written. Guarded by mutex_.
    std::string keptBecause_;
};

// A unit as the operator may name it: what it reports and what it was called.
struct NamedUnit {
    std::string serial;
    std::string place;
    std::string label;
};

struct UnitMatch {
    enum class Rule { None, Serial, Place, Label, LabelIgnoringCase };
    Rule rule = Rule::None;
    // Indices into the units of every unit the first rule that named any of them found, in
    // their order: one when the name is clear, none when nothing has that name.
    std::vector<std::size_t> units;
    // Empty when exactly one unit is named; else one line for the operator.
    std::string error;
};

// Which of `units` the operator means by `typed` (the --serial option): its serial number,
// else where it is plugged in, else its label exactly, else its label regardless of the case
// of A to Z. Two units named by the same rule are ambiguous: the error lists them.
UnitMatch matchUnit(std::string_view typed, std::span<const NamedUnit> units);

// "QX7700000042 \"Studio A\"", with " at <place>" when the place is known: how a unit is named
// in lists and messages.
std::string unitName(const NamedUnit& unit);

} // namespace qx::state
