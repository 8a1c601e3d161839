// SPDX-License-Identifier: GPL-3.0-or-later
// Each command against the virtual unit: what it prints on standard output, the one line it
// prints on standard error when it fails, its exit status, and what the unit holds afterwards.
#include "CliFixture.h"

#include "cli/UnitLock.h"
#include "state/UpdateJournal.h"
#include "tools/mkorbu/PackageWriter.h"
#include "update/UpdatePackage.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace qx::cli::test {
namespace {

const std::string kFactoryText = "preset=1\nmute=off\nsum=off\ndif=off\ndim=off\ngain.left=0\n"
                                 "gain.right=0\nsource.left=SDI #1\nsource.right=SDI #2\n"
                                 "ballistics=VU\nbrightness=100%\npeakhold=Peak\nscale=dB\n";
const std::string kFactoryJson =
    "{\"preset\":1,\"mute\":false,\"sum\":false,\"dif\":false,\"dim\":\"off\",\"gain.left\":0,"
    "\"gain.right\":0,\"source.left\":\"SDI #1\",\"source.right\":\"SDI #2\",\"ballistics\":\"VU\","
    "\"brightness\":\"100%\",\"peakhold\":\"Peak\",\"scale\":\"dB\"}";

unit::VirtualUnit& first(unit::VirtualBench& b) {
    return b.unit(0);
}

void steadyTone(unit::VirtualBench& b) {
    first(b).setLevelPattern(unit::LevelPattern::SteadyTone);
}

void muted(unit::VirtualBench& b) {
    DeviceSettings s = factoryDefaults();
    s.muteOn = 1;
    s.preset = 2;
    s.gainRight = -12;
    first(b).setSettings(s);
}

void silent(unit::VirtualBench& b) {
    unit::Faults f;
    f.silent = true;
    first(b).setFaults(f);
}

void unplugged(unit::VirtualBench& b) {
    b.setPlugged(0, false);
}

void locked(unit::VirtualBench& b) {
    b.setOpenable(0, false);
}

void inBootMode(unit::VirtualBench& b) {
    b.restart(0, true);
}

// A second unit, serial "QX77SECOND", plugged in after the first.
void twoUnits(unit::VirtualBench& b) {
    unit::Identity id;
    id.serial = "QX77SECOND";
    id.version = 0x0203;
    b.setPlugged(b.addUnit(id), true);
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    BenchSetup setup;
    int status;
    std::string out;    // the whole of standard output
    std::string errHas; // part of the one line on standard error; empty: nothing printed there
    std::function<void(unit::VirtualBench&)> check = {};
};

using CliCommands = CliFixture;

TEST_F(CliCommands, OutputJsonAndExitStatusOfEachCommand) {
    DeviceSettings wantedAfterSet = factoryDefaults();
    wantedAfterSet.preset = 1;
    wantedAfterSet.muteOn = 1;
    wantedAfterSet.source[sourceSlot(1, 0) - 1] = 16; // "ANALOG L" in preset 2
    wantedAfterSet.gainLeft = -6;
    wantedAfterSet.levelScale = 1;
    wantedAfterSet.brightness = 0;

    const std::vector<Case> cases = {
        {"get", {"get"}, {}, kExitDone, kFactoryText, ""},
        {"get --json", {"get", "--json"}, {}, kExitDone, kFactoryJson + "\n", ""},
        {"get shows the active preset's sources",
         {"--json", "get"},
         muted,
         kExitDone,
         "{\"preset\":3,\"mute\":true,\"sum\":false,\"dif\":false,\"dim\":\"off\",\"gain.left\":0,"
         "\"gain.right\":-12,\"source.left\":\"SDI #5\",\"source.right\":\"SDI #6\","
         "\"ballistics\":\"VU\",\"brightness\":\"100%\",\"peakhold\":\"Peak\",\"scale\":\"dB\"}\n",
         ""},
        {"status",
         {"status"},
         steadyTone,
         kExitDone,
         "level.left=0\nlevel.right=-1\n" + kFactoryText,
         ""},
        {"status --json",
         {"status", "--json"},
         steadyTone,
         kExitDone,
         "{\"levels\":{\"left\":0,\"right\":-2},\"readings\":{\"left\":\"0\",\"right\":\"-1\"},"
         "\"settings\":" +
             kFactoryJson + "}\n",
         ""},
        {"set, in the order given",
         {"set", "preset=2", "mute=on", "source.left=analog l", "gain.left=-6", "scale=dBFS",
          "brightness=10%"},
         {},
         kExitDone,
         "",
         "",
         [&](unit::VirtualBench& b) { EXPECT_EQ(first(b).settings(), wantedAfterSet); }},
        {"set --json prints what the unit confirmed",
         {"set", "--json", "dim=+20 dB", "dif=on"},
         {},
         kExitDone,
         "{\"preset\":1,\"mute\":false,\"sum\":false,\"dif\":true,\"dim\":\"+20 dB\","
         "\"gain.left\":0,\"gain.right\":0,\"source.left\":\"SDI #1\",\"source.right\":\"SDI #2\","
         "\"ballistics\":\"VU\",\"brightness\":\"100%\",\"peakhold\":\"Peak\",\"scale\":\"dB\"}\n",
         ""},
        {"sum=off leaves dif on",
         {"set", "dif=on", "sum=off"},
         {},
         kExitDone,
         "",
         "",
         [](unit::VirtualBench& b) { EXPECT_EQ(first(b).settings().monitorMode, 2); }},
        {"set on a silent unit", {"set", "mute=on"}, silent, kExitUnitFailed, "", "did not answer"},
        {"defaults",
         {"defaults"},
         muted,
         kExitDone,
         "",
         "",
         [](unit::VirtualBench& b) { EXPECT_EQ(first(b).settings(), factoryDefaults()); }},
        {"no unit", {"get"}, unplugged, kExitNoUnit, "", "no QX-77ZT unit found"},
        {"a device with other report lengths",
         {"get"},
         [](unit::VirtualBench& b) {
             unit::Identity id;
             id.outputReportLength = 128;
             first(b).setIdentity(id);
         },
         kExitNoUnit,
         "",
         "its reports are not the unit's 65 bytes (128 out, 65 in)"},
        {"no permission",
         {"set", "mute=on"},
         locked,
         kExitNoPermission,
         "",
         "cannot be opened (virtual/unit0)"},
        {"--serial picks the unit",
         {"set", "--serial", "QX77SECOND", "mute=on"},
         twoUnits,
         kExitDone,
         "",
         "",
         [](unit::VirtualBench& b) {
             EXPECT_EQ(b.unit(0).settings().muteOn, 0);
             EXPECT_EQ(b.unit(1).settings().muteOn, 1);
         }},
        {"--serial of no unit",
         {"get", "--serial=NOPE"},
         twoUnits,
         kExitNoUnit,
         "",
         "no QX-77ZT unit with serial number or label \"NOPE\" found"},
        {"list",
         {"list"},
         twoUnits,
         kExitDone,
         "virtual/unit0  serial QX7700000042  version 1.2  normal mode  accessible\n"
         "virtual/unit1  serial QX77SECOND  version 2.3  normal mode  accessible\n",
         ""},
        {"list --json of a boot unit nobody may open",
         {"list", "--json"},
         [](unit::VirtualBench& b) {
             b.restart(0, true);
             b.setOpenable(0, false);
         },
         kExitDone,
         "{\"units\":[{\"path\":\"virtual/unit0\",\"serial\":\"QX7700000042\",\"label\":\"\","
         "\"version\":\"1.2\","
         "\"mode\":\"boot\",\"access\":false,\"cause\":\"node-refused\",\"hint\":\"The unit is "
         "connected but cannot be opened (virtual/unit0). Close any other program that uses it, "
         "then "
         "plug it in again.\"}]}\n",
         ""},
        {"list finds nothing",
         {"list", "--json"},
         unplugged,
         kExitNoUnit,
         "{\"units\":[]}\n",
         "no QX-77ZT unit found"},
        {"settings in boot mode",
         {"get"},
         inBootMode,
         kExitUnitFailed,
         "",
         "the unit is in boot mode"},
        {"reset",
         {"reset"},
         [](unit::VirtualBench& b) {
             muted(b);
             b.restart(0, true);
         },
         kExitDone,
         "The unit restored its default settings.\n",
         "",
         [](unit::VirtualBench& b) { EXPECT_EQ(first(b).settings(), factoryDefaults()); }},
        {"reset in normal mode",
         {"reset", "--json"},
         {},
         kExitUnitFailed,
         "",
         "the unit is not in boot mode"},
        {"reset unanswered",
         {"reset"},
         [](unit::VirtualBench& b) {
             b.restart(0, true);
             silent(b);
         },
         kExitUnitFailed,
         "",
         "did not confirm the reset"},
        {"usage: no command", {}, {}, kExitUsage, "", "no command given"},
        {"usage: unknown command", {"mute"}, {}, kExitUsage, "", "unknown command \"mute\""},
        {"usage: set without settings", {"set"}, {}, kExitUsage, "", "usage: qx77zt set"},
        {"usage: bad value",
         {"set", "gain.left=17"},
         {},
         kExitUsage,
         "",
         "gain.left takes a whole number of dB from -32 to 16, not \"17\""},
        {"usage: --watch elsewhere",
         {"get", "--watch"},
         {},
         kExitUsage,
         "",
         "--watch belongs to the status command"},
        {"help",
         {"defaults", "--help"},
         {},
         kExitDone,
         "usage: qx77zt defaults [--json] [--serial S]\n\nSends the factory default settings "
         "(the window's \"Ddefault\") and waits for the unit's\nacknowledgement.\n\n--serial S "
         "chooses the unit with serial number S when several are plugged in;\nS may also be "
         "where it is plugged in (its device node) or its label.\n--demo sends the "
         "request to the running demo program instead of a unit.\n",
         ""},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliRun r = run(c.args, c.setup, c.check);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        if (c.errHas.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
            EXPECT_TRUE(r.err.starts_with("qx77zt: ")) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The same report as the window's Diagnostics, made by this process: its own scan, no link.
TEST_F(CliCommands, DiagPrintsTheReportOfItsOwnScan) {
    const CliRun r = run({"diag"}, [](unit::VirtualBench& b) {
        unit::Identity second;
        second.serial = "QX77SECOND";
        b.setPlugged(b.addUnit(second), true);
    });
    EXPECT_EQ(r.status, kExitDone);
    EXPECT_EQ(r.err, "");
    for (const char* part :
         {"QX-77ZT diagnostics report\nMade: 20", "Loaded: yes, every entry point", "Devices: 2\n",
          "serial \"QX77SECOND\"", "Link\n  not running\n"}) {
        EXPECT_NE(r.out.find(part), std::string::npos) << part << " missing in:\n" << r.out;
    }
}

TEST_F(CliCommands, SaveWritesTheRecordAndLoadSendsItBack) {
    const std::string file = path("unit.cfg");
    ASSERT_EQ(run({"save", file}, muted).status, kExitDone);
    DeviceSettings expected = factoryDefaults();
    expected.muteOn = 1;
    expected.preset = 2;
    expected.gainRight = -12;
    const auto bytes = rawBytes(expected);
    EXPECT_EQ(fileBytes(file), std::vector<uint8_t>(bytes.begin(), bytes.end()));

    DeviceSettings loaded;
    EXPECT_EQ(run({"load", file}, {}, [&](unit::VirtualBench& b) { loaded = first(b).settings(); })
                  .status,
              kExitDone);
    EXPECT_EQ(loaded, expected);

    // A file that is not a settings record sends nothing.
    const std::string shortFile = path("short.cfg");
    std::ofstream(shortFile, std::ios::binary).write("\x01\x07", 2);
    unsigned writes = 1;
    const CliRun refused = run({"load", shortFile}, {}, [&](unit::VirtualBench& b) {
        const auto byCommand = first(b).counters().byCommand;
        writes = byCommand.count(cmd::kSettingsWrite) ? byCommand.at(cmd::kSettingsWrite) : 0;
    });
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_NE(refused.err.find("is not a settings file"), std::string::npos) << refused.err;
    EXPECT_EQ(writes, 0u);

    const CliRun missing = run({"load", path("missing.cfg")});
    EXPECT_EQ(missing.status, kExitUsage);
    EXPECT_NE(missing.err.find("cannot open file"), std::string::npos);
    const CliRun unwritable = run({"save", path("no/such/folder.cfg")});
    EXPECT_EQ(unwritable.status, kExitUsage);
    EXPECT_NE(unwritable.err.find("cannot create file"), std::string::npos);
}

TEST_F(CliCommands, UpdateLandsThePackageAndRefusesAnotherModel) {
    const PackageReadResult demo = readUpdatePackageFile(QX_DEMO_PACKAGE, "QX-77ZT (boot)");
    ASSERT_EQ(demo.verdict, PackageVerdict::Accepted);
    std::vector<uint8_t> flash, eeprom;
    const CliRun r = run({"update", QX_DEMO_PACKAGE}, inBootMode, [&](unit::VirtualBench& b) {
        flash = first(b).flash();
        eeprom = first(b).eeprom();
    });
    EXPECT_EQ(r.status, kExitDone) << r.err;
    EXPECT_TRUE(r.out.starts_with("progress ")) << r.out;
    EXPECT_TRUE(r.out.ends_with("progress 100%\nUpdate completed successfully.\n")) << r.out;
    ASSERT_GE(flash.size(), demo.package.flash.size());
    EXPECT_TRUE(std::equal(demo.package.flash.begin(), demo.package.flash.end(), flash.begin()));
    EXPECT_TRUE(std::equal(demo.package.eeprom.begin(), demo.package.eeprom.end(), eeprom.begin()));
    // Journalled as the update window journals its transfers.
    state::UpdateJournal journal(path("update-journal"));
    EXPECT_EQ(journal.load(), "");
    ASSERT_EQ(journal.entries().size(), 1u);
    const state::JournalEntry entry = journal.entries().back();
    EXPECT_EQ(entry.state, state::UpdateState::Completed);
    EXPECT_EQ(entry.serial, "QX7700000042");
    EXPECT_EQ(entry.packagePath, QX_DEMO_PACKAGE);
    EXPECT_GT(entry.blocksTotal, 0u);
    EXPECT_EQ(entry.blocksDone, entry.blocksTotal);

    const std::string other = path("other.orbu");
    const PackageWriteResult written = writePackage({"QX-99", "1.0", {1, 2, 3}, {}});
    ASSERT_TRUE(written.ok);
    std::ofstream(other, std::ios::binary)
        .write(reinterpret_cast<const char*>(written.bytes.data()),
               static_cast<std::streamsize>(written.bytes.size()));
    unsigned framesSeen = 1;
    const CliRun refused = run({"update", other}, inBootMode, [&](unit::VirtualBench& b) {
        framesSeen = first(b).counters().framesReceived;
    });
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_NE(refused.err.find("meant for another model (QX-99)"), std::string::npos)
        << refused.err;
    EXPECT_EQ(framesSeen, 0u);

    const CliRun normal = run({"update", QX_DEMO_PACKAGE});
    EXPECT_EQ(normal.status, kExitUnitFailed);
    EXPECT_NE(normal.err.find("not in boot mode"), std::string::npos);
}

TEST_F(CliCommands, WatchPrintsOneJsonLinePerAnswerUntilStopped) {
    std::stop_source stop;
    CapturedOutput output;
    output.onLine = [&stop](const std::string& all) {
        if (std::count(all.begin(), all.end(), '\n') >= 4) {
            stop.request_stop();
        }
    };
    const int status =
        runCli({"status", "--watch", "--json"}, environment([](unit::VirtualBench& b) {
                   first(b).setLevelPattern(unit::LevelPattern::Overload);
               }),
               output, stop.get_token());
    EXPECT_EQ(status, kExitDone);
    const std::string out = output.out();
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1) {
        lines.push_back(out.substr(at, nl - at));
    }
    ASSERT_GE(lines.size(), 4u);
    // The overload pattern moves with every answer: each line is an answer of its own.
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto [left, right] = unit::VirtualUnit::patternLevels(unit::LevelPattern::Overload,
                                                                    static_cast<unsigned>(i));
        EXPECT_TRUE(lines[i].starts_with("{\"levels\":{\"left\":" + std::to_string(left) +
                                         ",\"right\":" + std::to_string(right) + "}"))
            << lines[i];
    }
}

TEST_F(CliCommands, ASecondCommandWaitsForTheFirstAndAnUpdateIsNamed) {
    UnitLock holder(dir_.path().toStdString());
    ASSERT_EQ(holder.take("update", std::chrono::milliseconds(0)), UnitLock::Result::Taken);
    const CliRun r = run({"get"});
    EXPECT_EQ(r.status, kExitUnitFailed);
    EXPECT_EQ(r.err, "qx77zt: a firmware update is already running (another qx77zt)\n");
}

// --demo goes to the demo program and never to a unit: not to a window program of the real
// program, not to a unit this process would drive itself (here the virtual one, which answers).
TEST_F(CliCommands, DemoRequestsGoToTheDemoProgramOnly) {
    struct Case {
        const char* name;
        bool demoRuns;
        bool demoBuilt;
        int status;
        std::string out;
        std::string errHas;
    };
    const Case cases[] = {
        {"demo runs", true, true, kExitDone, "from the demo\n", ""},
        {"no demo runs", false, true, kExitNoUnit, "", "no demo program runs for this user"},
        {"no demo built", false, false, kExitNoUnit, "", "this build has no demo program"},
    };
    for (const Case& c : cases) {
        CliEnvironment env = environment({});
        int windowAsked = 0;
        std::vector<CliRequest> demoAsked;
        env.handOff = [&](const CliRequest&, CliOutput&, std::stop_token) -> std::optional<int> {
            ++windowAsked;
            return std::nullopt;
        };
        if (c.demoBuilt) {
            env.demoHandOff = [&](const CliRequest& r, CliOutput& out,
                                  std::stop_token) -> std::optional<int> {
                demoAsked.push_back(r);
                if (!c.demoRuns) {
                    return std::nullopt;
                }
                out.line("from the demo");
                return kExitDone;
            };
        }
        CapturedOutput output;
        const int status = runCli({"--demo", "set", "preset=3"}, env, output);
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(output.out(), c.out) << c.name;
        if (c.errHas.empty()) {
            EXPECT_EQ(output.err(), "") << c.name;
        } else {
            EXPECT_NE(output.err().find(c.errHas), std::string::npos) << c.name << output.err();
        }
        EXPECT_EQ(windowAsked, 0) << c.name;
        ASSERT_EQ(demoAsked.size(), c.demoBuilt ? 1U : 0U) << c.name;
        if (c.demoBuilt) {
            EXPECT_EQ(demoAsked[0].command, Command::Set);
            EXPECT_EQ(demoAsked[0].operands, std::vector<std::string>{"preset=3"});
        }
    }
    // The virtual unit was never driven: it still holds preset 1.
    const CliRun get = run({"get"});
    EXPECT_EQ(get.out, kFactoryText);
}

TEST_F(CliCommands, VersionIsPrintedWithoutACommand) {
    const CliRun r = run({"--version"});
    EXPECT_EQ(r.status, kExitDone);
    EXPECT_EQ(r.out, "qx77zt " QX_PROGRAM_VERSION "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_NE(std::string(QX_PROGRAM_VERSION).find('.'), std::string::npos);
}

} // namespace
} // namespace qx::cli::test
