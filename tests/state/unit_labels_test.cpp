// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's labels for the units: any label text survives the file, a damaged file is
// never trusted, a change made by another program meanwhile is kept, no two units share a
// label, and what the operator types for --serial names one unit or says which ones it could be.
#include "StateFixture.h"

#include "state/UnitLabels.h"

#include <algorithm>
#include <thread>

namespace qx::state::test {
namespace {

UnitLabel labelled(std::string serial, std::string label, std::string place = {}) {
    UnitLabel r;
    r.serial = std::move(serial);
    r.place = std::move(place);
    r.label = std::move(label);
    return r;
}

std::string repeated(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

TEST(UnitLabelFile, EveryLabelReadsBackAsItWasWritten) {
    UnitLabel withProfile = labelled("QX77 A%1", "");
    withProfile.profile = "/home/op/rack settings/\"2\".cfg";
    withProfile.applyProfile = true;
    UnitLabel profileNotApplied = labelled("QX77B", "Spare");
    profileNotApplied.profile = "/srv/ü.cfg";
    const std::vector<UnitLabel> records = {
        labelled("QX7700000042", "Studio A L/R"),
        labelled("QX77 SPACED", "  leading and trailing  "),
        labelled("Q\"uote", "say \"hi\""),
        labelled("QX77BACK", "C:\\racks\\2 %20 %"),
        labelled("QX77UTF", "Régie 2 — Überspielraum 🎚"),
        labelled("QX77LONG", repeated("é", kMaxLabelCharacters)),
        labelled("QX77TWIN", "Left twin", "1-1.2"),
        labelled("QX77TWIN", "Right twin", "1-1.3"),
        withProfile,
        profileNotApplied,
    };
    const std::string text = formatUnitLabels(records);
    for (std::size_t at = text.find('\n') + 1, nl; (nl = text.find('\n', at)) != std::string::npos;
         at = nl + 1) {
        const std::string line = text.substr(at, nl - at);
        EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 4) << "five fields: " << line;
    }
    const LabelsParse parsed = parseUnitLabels(bytesOf(text));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.records, records);
    EXPECT_EQ(formatUnitLabels({}), "qx77zt unit labels 1\n");
}

TEST(UnitLabelFile, DamagedFilesAreRefusedWithTheReason) {
    const std::string head = "qx77zt unit labels 1\n";
    std::string tooMany = head;
    for (std::size_t i = 0; i <= kLabelledUnits; ++i) {
        tooMany += "U" + std::to_string(i) + " % L" + std::to_string(i) + " 0 %\n";
    }
    struct Case {
        const char* name;
        std::string text;
        const char* errorHas;
    };
    const Case cases[] = {
        {"empty", "", "cut short"},
        {"cut short", head + "QX1 % Rack 0 %", "cut short"},
        {"foreign", "[labels]\nQX1=Rack\n", "not a unit label file"},
        {"a raw UTF-8 byte", head + "QX1 % R\xc3\xa9 0 %\n", "foreign bytes"},
        {"four fields", head + "QX1 % Rack 0\n", "line 2 is damaged"},
        {"two spaces", head + "QX1  Rack 0 %\n", "line 2 is damaged"},
        {"apply is neither 0 nor 1", head + "QX1 % Rack 2 %\n", "line 2 is damaged"},
        {"a cut escape", head + "QX1 % Rack%2 0 %\n", "line 2 is damaged"},
        {"an empty serial", head + "% % Rack 0 %\n", "serial number"},
        {"a label too long",
         head + "QX1 % " + repeated("%c3%a9", kMaxLabelCharacters + 1) + " 0 %\n", "longer than"},
        {"a line break in the label", head + "QX1 % a%0ab 0 %\n", "control character"},
        {"a C1 control in the label", head + "QX1 % a%c2%85b 0 %\n", "control character"},
        {"a label not UTF-8", head + "QX1 % a%ffb 0 %\n", "not UTF-8"},
        {"an overlong form", head + "QX1 % a%c0%afb 0 %\n", "not UTF-8"},
        {"a relative profile", head + "QX1 % Rack 1 rack.cfg\n", "not absolute"},
        {"apply without a profile", head + "QX1 % Rack 1 %\n", "no settings file"},
        {"a record of nothing", head + "QX1 % % 0 %\n", "neither a label"},
        {"the same unit twice", head + "QX1 % Rack 0 %\nQX1 % Other 0 %\n", "line 3 repeats"},
        {"more units than are kept", tooMany, "more units than are kept"},
        {"too large", head + std::string(kMaxLabelsFileSize, 'x') + "\n", "too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LabelsParse parsed = parseUnitLabels(bytesOf(c.text));
        EXPECT_FALSE(parsed.ok);
        EXPECT_TRUE(parsed.records.empty());
        EXPECT_NE(parsed.error.find(c.errorHas), std::string::npos) << parsed.error;
    }
    // The same serial number in two places is two units, not a repeat.
    EXPECT_TRUE(parseUnitLabels(bytesOf(head + "QX1 1-1 A 0 %\nQX1 1-2 B 0 %\n")).ok);
}

TEST(UnitLabelFile, LabelsAreUtf8WithoutControlsAndBounded) {
    struct Case {
        const char* name;
        std::string label;
        const char* problemHas; // empty: accepted
    };
    const Case cases[] = {
        {"plain", "Studio A L/R", ""},
        {"empty", "", ""},
        {"64 two-byte characters", repeated("é", 64), ""},
        {"64 four-byte characters", repeated("🎚", 64), ""},
        {"65 characters", repeated("a", 65), "longer than 64"},
        {"a tab", "a\tb", "control"},
        {"delete", "a\x7f", "control"},
        {"C1 next line", "a\xc2\x85", "control"},
        {"a lone continuation byte", "a\x80", "not UTF-8"},
        {"cut short", "a\xe2\x82", "not UTF-8"},
        {"a surrogate", "\xed\xa0\x80", "not UTF-8"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "not UTF-8"},
        {"overlong slash", "\xe0\x80\xaf", "not UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string problem = labelProblem(c.label);
        if (std::string_view(c.problemHas).empty()) {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(c.problemHas), std::string::npos) << problem;
        }
    }
}

using Labels = StateFolderTest;

TEST_F(Labels, KeptPerUnitAndPlaceAndWrittenAtOnce) {
    const auto file = root / kLabelsFileName;
    UnitLabels labels(file);
    ASSERT_EQ(labels.load(), "");
    EXPECT_EQ(labels.set(labelled("QX1", "Studio A")).status, LabelChange::Status::Done);
    EXPECT_EQ(labels.set(labelled("QX2", "Twin left", "1-1")).status, LabelChange::Status::Done);
    UnitLabel spare = labelled("QX3", "");
    spare.profile = "/home/op/spare.cfg";
    spare.applyProfile = true;
    EXPECT_EQ(labels.set(spare).status, LabelChange::Status::Done);

    UnitLabels again(file);
    ASSERT_EQ(again.load(), "");
    EXPECT_EQ(again.find("QX1")->label, "Studio A");
    EXPECT_EQ(again.find("QX1", "anywhere")->label, "Studio A") << "any place's record";
    EXPECT_FALSE(again.find("QX2")) << "only the unit in its place has that label";
    EXPECT_EQ(again.find("QX2", "1-1")->label, "Twin left");
    EXPECT_EQ(again.find("QX3"), spare);
    EXPECT_EQ(again.all().size(), 3u);

    // Renaming keeps the record's place in the list; a record of nothing is removed.
    EXPECT_EQ(again.set(labelled("QX1", "Studio B")).status, LabelChange::Status::Done);
    EXPECT_EQ(again.set(labelled("QX2", "", "1-1")).status, LabelChange::Status::Done);
    EXPECT_EQ(again.remove("QX3").status, LabelChange::Status::Done);
    EXPECT_EQ(again.remove("QX9").status, LabelChange::Status::Done) << "nothing to remove";
    UnitLabels third(file);
    ASSERT_EQ(third.load(), "");
    EXPECT_EQ(third.all(), std::vector<UnitLabel>{labelled("QX1", "Studio B")});
}

TEST_F(Labels, RefusedChangesLeaveEverythingAsItWas) {
    const auto file = root / kLabelsFileName;
    UnitLabels labels(file);
    ASSERT_EQ(labels.set(labelled("QX1", "Rack 2")).status, LabelChange::Status::Done);
    const std::string before = read(file);
    UnitLabel relative = labelled("QX2", "Spare");
    relative.profile = "spare.cfg";
    struct Case {
        const char* name;
        UnitLabel record;
        const char* errorHas;
    };
    const Case cases[] = {
        {"another unit's label", labelled("QX2", "Rack 2"), "already the label of unit QX1"},
        {"the same regardless of case", labelled("QX2", "RACK 2"), "already the label"},
        {"the same serial in another place", labelled("QX1", "rack 2", "1-4"), "already"},
        {"too long", labelled("QX2", repeated("x", 65)), "longer than"},
        {"no serial", labelled("", "Spare"), "serial number"},
        {"a relative profile", relative, "not absolute"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LabelChange change = labels.set(c.record);
        EXPECT_EQ(change.status, LabelChange::Status::Refused);
        EXPECT_NE(change.error.find(c.errorHas), std::string::npos) << change.error;
        EXPECT_EQ(read(file), before);
    }
    EXPECT_EQ(labels.set(labelled("QX1", "RACK 2")).status, LabelChange::Status::Done)
        << "a unit may change the case of its own label";

    for (std::size_t i = 1; i < kLabelledUnits; ++i) {
        ASSERT_EQ(labels.set(labelled("U" + std::to_string(i), "L" + std::to_string(i))).status,
                  LabelChange::Status::Done);
    }
    const LabelChange full = labels.set(labelled("ONE MORE", "Extra"));
    EXPECT_EQ(full.status, LabelChange::Status::Refused);
    EXPECT_NE(full.error.find("clear one first"), std::string::npos) << full.error;
    EXPECT_EQ(labels.find("QX1")->label, "RACK 2") << "no label was dropped to make room";
}

// The window program and qx77zt each hold the labels; neither undoes what the other wrote.
TEST_F(Labels, AChangeKeepsWhatAnotherProgramWroteMeanwhile) {
    const auto file = root / kLabelsFileName;
    UnitLabels window(file);
    UnitLabels commandLine(file);
    ASSERT_EQ(window.load(), "");
    ASSERT_EQ(commandLine.load(), "");
    EXPECT_EQ(commandLine.set(labelled("QX1", "Studio A")).status, LabelChange::Status::Done);
    EXPECT_EQ(window.set(labelled("QX2", "Studio B")).status, LabelChange::Status::Done);
    UnitLabels fresh(file);
    ASSERT_EQ(fresh.load(), "");
    EXPECT_EQ(fresh.all().size(), 2u);
    EXPECT_TRUE(window.find("QX1")) << "read with the change";

    // Damaged meanwhile: set aside, said, and the change starts a new file.
    write(file, "damaged\n");
    const LabelChange change = window.set(labelled("QX3", "Studio C"));
    EXPECT_EQ(change.status, LabelChange::Status::Done);
    EXPECT_NE(change.notice.find("moved to"), std::string::npos) << change.notice;
    EXPECT_EQ(read(file.string() + ".damaged"), "damaged\n");
    ASSERT_EQ(fresh.load(), "");
    EXPECT_EQ(fresh.all(), std::vector<UnitLabel>{labelled("QX3", "Studio C")});
}

TEST_F(Labels, ChangesFromManyThreadsAreAllKept) {
    const auto file = root / kLabelsFileName;
    UnitLabels labels(file);
    constexpr int kThreads = 4;
    constexpr int kEach = 8;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&labels, t] {
                for (int i = 0; i < kEach; ++i) {
                    const std::string n = std::to_string(t) + "-" + std::to_string(i);
                    labels.set(labelled("U" + n, "L" + n));
                    (void)labels.find("U" + n);
                    (void)labels.all();
                }
            });
        }
    }
    UnitLabels again(file);
    ASSERT_EQ(again.load(), "");
    EXPECT_EQ(again.all().size(), static_cast<std::size_t>(kThreads * kEach));
}

TEST(UnitMatch, TheNameTypedForSerialPicksOneUnitOrListsTheCandidates) {
    using Rule = UnitMatch::Rule;
    const std::vector<NamedUnit> units = {
        {"QX1", "virtual/unit0", "Studio A"}, {"QX2", "virtual/unit1", "studio a"},
        {"QX3", "virtual/unit2", "Rack 2"},   {"TWIN", "virtual/unit3", ""},
        {"TWIN", "virtual/unit4", "Right"},   {"Rack 3", "virtual/unit5", "Spare"},
        {"QX7", "virtual/unit6", "QX1"},      {"QX8", "virtual/unit7", "RACK 4"},
        {"QX9", "virtual/unit8", "rack 4"},
    };
    struct Case {
        const char* typed;
        Rule rule;
        std::vector<std::size_t> found;
        const char* errorHas; // empty: exactly one unit
    };
    const Case cases[] = {
        {"QX3", Rule::Serial, {2}, ""},
        {"QX1", Rule::Serial, {0}, ""}, // a serial number wins over another unit's label
        {"TWIN", Rule::Serial, {3, 4}, "TWIN at virtual/unit3, TWIN at virtual/unit4 \"Right\""},
        {"virtual/unit3", Rule::Place, {3}, ""},
        {"Studio A", Rule::Label, {0}, ""}, // the exact case first
        {"studio a", Rule::Label, {1}, ""},
        {"rack 2", Rule::LabelIgnoringCase, {2}, ""},
        {"Rack 3", Rule::Serial, {5}, ""},
        {"STUDIO A", Rule::LabelIgnoringCase, {0, 1}, "names 2 units"},
        {"Rack 4", Rule::LabelIgnoringCase, {7, 8}, "by its serial number"},
        {"Right", Rule::Label, {4}, ""},
        {"nobody", Rule::None, {}, "no unit has the serial number, place or label \"nobody\""},
        {"", Rule::None, {}, "no unit"},
        {"Stud", Rule::None, {}, "no unit"}, // no prefixes: a typo must not pick a unit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const UnitMatch m = matchUnit(c.typed, units);
        EXPECT_EQ(m.rule, c.rule);
        EXPECT_EQ(m.units, c.found);
        if (std::string_view(c.errorHas).empty()) {
            EXPECT_EQ(m.error, "");
        } else {
            EXPECT_NE(m.error.find(c.errorHas), std::string::npos) << m.error;
        }
    }
    EXPECT_EQ(matchUnit("QX1", std::span<const NamedUnit>()).units.size(), 0u);
}

} // namespace
} // namespace qx::state::test
