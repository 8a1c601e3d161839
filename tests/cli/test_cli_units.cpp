// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt with several units plugged in: every unit is listed and shown with its label, a
// command for one unit without --serial is refused with the list of units, --serial names a
// unit by its serial number, its place or its label, and labels go to and from the state file.
#include "CliFixture.h"

#include "state/UnitLabels.h"

#include <fstream>

namespace qx::cli::test {
namespace {

const char* const kSerials[] = {"QX7700000042", "QX77SECOND", "QX77THIRD"};

// `count` units, unit0 of the default identity, then the others in the order of kSerials.
BenchSetup units(int count) {
    return [count](unit::VirtualBench& b) {
        for (int i = 1; i < count; ++i) {
            unit::Identity id;
            id.serial = kSerials[i];
            b.setPlugged(b.addUnit(id), true);
        }
    };
}

BenchSetup twins() {
    return [](unit::VirtualBench& b) {
        for (int i = 0; i < 2; ++i) {
            unit::Identity id;
            id.serial = "TWIN";
            if (i == 0) {
                b.unit(0).setIdentity(id);
                b.restart(0, false);
            } else {
                b.setPlugged(b.addUnit(id), true);
            }
        }
    };
}

std::vector<bool> mutedUnits(unit::VirtualBench& b) {
    std::vector<bool> out;
    for (int i = 0; i < b.unitCount(); ++i) {
        out.push_back(b.unit(i).settings().muteOn != 0);
    }
    return out;
}

class CliUnits : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        state::UnitLabels labels(path("unit-labels"));
        ASSERT_EQ(labels.set({kSerials[0], "", "Studio A L/R", "", false}).status,
                  state::LabelChange::Status::Done);
        ASSERT_EQ(labels.set({kSerials[2], "", "Rack 2", "", false}).status,
                  state::LabelChange::Status::Done);
    }
};

TEST_F(CliUnits, ListAndStatusNameEveryUnit) {
    const std::string listLines[] = {
        "virtual/unit0  serial QX7700000042  version 1.2  normal mode  accessible  label "
        "\"Studio A L/R\"\n",
        "virtual/unit1  serial QX77SECOND  version 1.2  normal mode  accessible\n",
        "virtual/unit2  serial QX77THIRD  version 1.2  normal mode  accessible  label \"Rack 2\"\n",
    };
    const std::string heads[] = {"unit QX7700000042 \"Studio A L/R\"\n", "unit QX77SECOND\n",
                                 "unit QX77THIRD \"Rack 2\"\n"};
    const std::string jsonHeads[] = {
        "{\"path\":\"virtual/unit0\",\"serial\":\"QX7700000042\",\"label\":\"Studio A L/R\","
        "\"mode\":\"normal\",\"levels\":",
        "{\"path\":\"virtual/unit1\",\"serial\":\"QX77SECOND\",\"label\":\"\","
        "\"mode\":\"normal\",\"levels\":",
        "{\"path\":\"virtual/unit2\",\"serial\":\"QX77THIRD\",\"label\":\"Rack 2\","
        "\"mode\":\"normal\",\"levels\":",
    };
    const CliRun one = run({"status"});
    ASSERT_EQ(one.status, kExitDone) << one.err;
    const std::string oneBlock = one.out; // one unit: as before, no heading
    EXPECT_TRUE(oneBlock.starts_with("level.left=")) << oneBlock;
    const CliRun oneJson = run({"status", "--json"});
    ASSERT_EQ(oneJson.status, kExitDone) << oneJson.err;
    EXPECT_TRUE(oneJson.out.starts_with("{\"levels\":")) << "one unit keeps the single object";

    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(std::to_string(n) + " units");
        const CliRun list = run({"list"}, units(n));
        EXPECT_EQ(list.status, kExitDone);
        std::string wanted;
        for (int i = 0; i < n; ++i) {
            wanted += listLines[i];
        }
        EXPECT_EQ(list.out, wanted);
        const CliRun listJson = run({"list", "--json"}, units(n));
        EXPECT_NE(listJson.out.find("\"serial\":\"QX7700000042\",\"label\":\"Studio A L/R\""),
                  std::string::npos)
            << listJson.out;
        if (n == 1) {
            continue;
        }
        const CliRun status = run({"status"}, units(n));
        EXPECT_EQ(status.status, kExitDone) << status.err;
        EXPECT_EQ(status.err, "");
        std::string blocks;
        for (int i = 0; i < n; ++i) {
            blocks += (i == 0 ? "" : "\n") + heads[i] + oneBlock;
        }
        EXPECT_EQ(status.out, blocks);
        const CliRun json = run({"status", "--json"}, units(n));
        EXPECT_EQ(json.status, kExitDone) << json.err;
        EXPECT_TRUE(json.out.starts_with("[" + jsonHeads[0])) << json.out;
        EXPECT_TRUE(json.out.ends_with("}}]\n")) << json.out;
        for (int i = 0; i < n; ++i) {
            EXPECT_NE(json.out.find(jsonHeads[i]), std::string::npos) << json.out;
        }
        EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1) << "one line";
    }
}

// A unit in boot mode or one that does not answer is shown as such; the others are shown all
// the same.
TEST_F(CliUnits, StatusOfAllShowsEveryUnitWhateverItsState) {
    const BenchSetup mixed = [](unit::VirtualBench& b) {
        units(3)(b);
        b.restart(1, true);
        unit::Faults f;
        f.silent = true;
        b.unit(2).setFaults(f);
    };
    const CliRun text = run({"status"}, mixed);
    EXPECT_EQ(text.status, kExitUnitFailed);
    EXPECT_NE(text.out.find("unit QX77SECOND\nboot mode: no levels or settings"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("unit QX77THIRD \"Rack 2\"\n"), std::string::npos) << text.out;
    EXPECT_TRUE(text.out.starts_with("unit QX7700000042 \"Studio A L/R\"\nlevel.left="))
        << text.out;
    EXPECT_NE(text.err.find("did not answer"), std::string::npos) << text.err;

    const CliRun json = run({"status", "--json"}, mixed);
    EXPECT_EQ(json.status, kExitUnitFailed);
    EXPECT_NE(json.out.find("{\"path\":\"virtual/unit1\",\"serial\":\"QX77SECOND\",\"label\":"
                            "\"\",\"mode\":\"boot\"}"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"label\":\"Rack 2\",\"mode\":\"normal\",\"error\":\"the unit did "
                            "not answer within 1.5 s\"}]"),
              std::string::npos)
        << json.out;
}

TEST_F(CliUnits, ACommandForOneUnitWithoutSerialIsRefusedWithTheList) {
    const std::string cfg = path("unit.cfg");
    ASSERT_EQ(run({"save", cfg}).status, kExitDone);
    const std::vector<std::vector<std::string>> commands = {
        {"set", "mute=on"},
        {"defaults"},
        {"load", cfg},
        {"get"},
        {"save", cfg},
        {"reset"},
        {"update", QX_DEMO_PACKAGE},
        {"status", "--watch"},
        {"label", "X"},
    };
    for (int n = 2; n <= 3; ++n) {
        for (const auto& args : commands) {
            SCOPED_TRACE(std::to_string(n) + " units: " + args[0]);
            bool driven = false;
            const CliRun r = run(args, units(n), [&](unit::VirtualBench&) { driven = true; });
            EXPECT_EQ(r.status, kExitUsage);
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(driven) << "no unit was opened";
            EXPECT_TRUE(r.err.starts_with("qx77zt: " + std::to_string(n) +
                                          " QX-77ZT units are plugged in and "))
                << r.err;
            EXPECT_NE(r.err.find("--serial"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("  virtual/unit0  serial QX7700000042  label \"Studio A L/R\"  "
                                 "normal mode\n"),
                      std::string::npos)
                << r.err;
            EXPECT_NE(r.err.find("  virtual/unit1  serial QX77SECOND  normal mode\n"),
                      std::string::npos)
                << r.err;
            EXPECT_EQ(r.err.find("QX77THIRD") != std::string::npos, n == 3) << r.err;
        }
    }
}

TEST_F(CliUnits, SerialNamesAUnitByItsSerialPlaceOrLabel) {
    struct Case {
        const char* typed;
        BenchSetup setup;
        int status;
        std::vector<bool> muted; // after `set mute=on`
        const char* errHas = "";
    };
    const Case cases[] = {
        {"Rack 2", units(3), kExitDone, {false, false, true}},
        {"rack 2", units(3), kExitDone, {false, false, true}},
        {"Studio A L/R", units(2), kExitDone, {true, false}},
        {"QX77SECOND", units(3), kExitDone, {false, true, false}},
        {"virtual/unit1", units(2), kExitDone, {false, true}},
        {"TWIN", twins(), kExitUsage, {}, "\"TWIN\" names 2 units"},
        {"virtual/unit1", twins(), kExitDone, {false, true}},
        {"Rack", units(3), kExitNoUnit, {}, "with serial number or label \"Rack\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        std::vector<bool> muted;
        const CliRun r = run({"set", "mute=on", "--serial", c.typed}, c.setup,
                             [&](unit::VirtualBench& b) { muted = mutedUnits(b); });
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(muted, c.muted);
        if (std::string_view(c.errHas).empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
        }
    }
}

TEST_F(CliUnits, LabelsGoToTheStateFileAndBack) {
    const auto kept = [this] {
        state::UnitLabels labels(path("unit-labels"));
        EXPECT_EQ(labels.load(), "");
        return labels.all();
    };
    const std::string cfg = path("rack.cfg");
    ASSERT_EQ(run({"save", cfg}).status, kExitDone);
    std::ofstream(path("not.cfg"), std::ios::binary) << "hello";

    struct Step {
        const char* name;
        std::vector<std::string> args;
        BenchSetup setup;
        int status;
        std::string out;
        const char* errHas = "";
    };
    const Step steps[] = {
        {"the one unit, no --serial", {"label", "Régie \"2\" \\ main"}, {}, kExitDone, ""},
        {"by serial, JSON",
         {"label", "--json", "--serial", "QX77SECOND", "Spare"},
         units(2),
         kExitDone,
         "{\"serial\":\"QX77SECOND\",\"place\":\"\",\"label\":\"Spare\",\"profile\":\"\","
         "\"applyProfile\":false}\n"},
        {"another unit's label",
         {"label", "--serial", "QX77SECOND", "RACK 2"},
         units(2),
         kExitUsage,
         "",
         "already the label of unit QX77THIRD"},
        {"too long", {"label", std::string(65, 'x')}, {}, kExitUsage, "", "longer than 64"},
        {"a profile that is no settings file",
         {"label", "--profile", path("not.cfg")},
         {},
         kExitUsage,
         "",
         "is not a settings file"},
        {"a profile by label, absent unit's label kept",
         {"label", "--serial", "spare", "--profile", cfg},
         units(2),
         kExitDone,
         ""},
        {"an absent unit cleared by its label",
         {"label", "--serial", "Rack 2", "--clear"},
         {},
         kExitDone,
         ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const CliRun r = run(s.args, s.setup);
        EXPECT_EQ(r.status, s.status) << r.err;
        EXPECT_EQ(r.out, s.out);
        if (std::string_view(s.errHas).empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(s.errHas), std::string::npos) << r.err;
        }
    }
    const std::vector<state::UnitLabel> wanted = {
        {"QX7700000042", "", "Régie \"2\" \\ main", "", false},
        {"QX77SECOND", "", "Spare", cfg, true},
    };
    EXPECT_EQ(kept(), wanted);
    const CliRun list = run({"list"}, units(3));
    EXPECT_NE(list.out.find("serial QX7700000042  version 1.2  normal mode  accessible  label "
                            "\"Régie \"2\" \\ main\"\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("serial QX77THIRD  version 1.2  normal mode  accessible\n"),
              std::string::npos)
        << list.out;

    // Without a state folder a label could not be kept: said, not pretended.
    CliEnvironment nowhere = environment({});
    nowhere.labelsFile.clear();
    CapturedOutput output;
    EXPECT_EQ(runCli({"label", "Lost"}, nowhere, output), kExitUsage);
    EXPECT_NE(output.err().find("no state folder"), std::string::npos) << output.err();

    // Twins are labelled by where they are plugged in.
    ASSERT_EQ(run({"label", "--serial", "virtual/unit1", "Right twin"}, twins()).status, kExitDone);
    ASSERT_EQ(run({"label", "--serial", "virtual/unit0", "Left twin"}, twins()).status, kExitDone);
    const CliRun twinList = run({"list"}, twins());
    EXPECT_NE(twinList.out.find("virtual/unit0  serial TWIN  version 1.2  normal mode  "
                                "accessible  label \"Left twin\""),
              std::string::npos)
        << twinList.out;
    EXPECT_NE(twinList.out.find("virtual/unit1  serial TWIN  version 1.2  normal mode  "
                                "accessible  label \"Right twin\""),
              std::string::npos)
        << twinList.out;
    ASSERT_EQ(run({"label", "--serial", "right twin", "--clear"}, twins()).status, kExitDone);
    ASSERT_EQ(run({"label", "--serial", "Left twin", "--clear"}, twins()).status, kExitDone);
    EXPECT_EQ(kept(), wanted);
}

} // namespace
} // namespace qx::cli::test
