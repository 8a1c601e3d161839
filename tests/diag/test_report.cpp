// SPDX-License-Identifier: GPL-3.0-or-later
#include "diag/DiagnosticsReport.h"
#include "link/EmbeddedImage.h"
#include "link/USB.h"
#include "link/linux/ElfImage.h"
#include "panel/UnitAccessHint.h"
#include "unit/VirtualBench.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qx {
namespace {

struct QuietView : ConnectionView {
    void setControlsEnabled(bool) override {}
    void setDeviceFields(const std::string&, const std::string&, const std::string&) override {}
    void setUpdateButtonsEnabled(bool) override {}
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void setString(THIDstring& s, const std::string& text) {
    s.length = static_cast<uint8_t>(text.size());
    std::memcpy(s.text, text.data(), text.size());
}

// A folder standing in for udev's rule folders, with or without the unit's rule.
struct RuleDir {
    QTemporaryDir dir;
    explicit RuleDir(bool withRule) {
        if (withRule) {
            std::ofstream(path() + "/" + kUdevRuleName) << "# rule\n";
        }
    }
    std::string path() const { return dir.path().toStdString(); }
};

struct ReportTest : ::testing::Test {
    LinkState link;
    QuietView view;
    std::unique_ptr<UsbLink> usb;
    unit::VirtualBench* bench = nullptr;
    std::vector<uint8_t> image = *embeddedHidImage();

    void SetUp() override {
        usb = std::make_unique<UsbLink>(link, view, &embeddedHidImage, [] {});
        ASSERT_TRUE(usb->bindLibrary()) << usb->lastError();
        bench = reinterpret_cast<decltype(&VUcontrol)>(usb->library()->symbol("VUcontrol"))();
        bench->reset();
    }
    void TearDown() override {
        if (usb) {
            bench->reset();
            usb.reset();
        }
    }
    std::string report(const RuleDir& rules) {
        SystemPaths paths;
        paths.ruleDirs = {rules.path()};
        return formatReport(gatherFacts(*usb, link, image, paths));
    }
};

// What the report says of the rule, the unit and the link, with the unit in different states.
TEST_F(ReportTest, AgainstTheVirtualUnit) {
    struct Case {
        const char* name;
        bool rule;
        bool plugged;
        unit::Faults faults;
        // The counter that shows this case's faults (or their absence) once it moves.
        uint64_t LinkCountersSnapshot::*awaited;
        std::vector<std::string> expected;
    };
    unit::Faults corrupt;
    corrupt.corruptCrc = true;
    unit::Faults refusing;
    refusing.refuseWrites = true;
    const Case cases[] = {
        {"unplugged, no rule",
         false,
         false,
         {},
         nullptr,
         {"udev rule 70-qx77zt.rules: not installed", "Unit node: no device of ORB-MX listed",
          "Devices: 0", "connected: no"}},
        {"healthy unit, rule installed",
         true,
         true,
         {},
         &LinkCountersSnapshot::answersReceived,
         {"udev rule 70-qx77zt.rules: installed as ", "Devices: 1", "  #0 virtual/unit0",
          "manufacturer \"ORB-MX\", product \"QX-77ZT\", serial \"QX7700000042\"",
          "ids 1209:0001, release 1.2", "report lengths: output 65, input 65, feature 0",
          "read-write: yes", "connected: yes, boot mode: no", "CRC failures: 0, length failures: 0",
          " ms ago", "\nMade: 20"}},
        {"corrupted answers",
         true,
         true,
         corrupt,
         &LinkCountersSnapshot::crcFailures,
         {"answers received: 0, CRC failures: ", "last answer: none yet"}},
        {"writes refused",
         true,
         true,
         refusing,
         &LinkCountersSnapshot::piecesRefused,
         {"frames sent: 0, pieces refused: "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh link for each case, so that its counters show this case's faults alone.
        usb.reset();
        LinkState caseLink;
        usb = std::make_unique<UsbLink>(caseLink, view, &embeddedHidImage, [] {});
        ASSERT_TRUE(usb->bindLibrary());
        bench = reinterpret_cast<decltype(&VUcontrol)>(usb->library()->symbol("VUcontrol"))();
        bench->reset();
        bench->setPlugged(0, c.plugged);
        bench->unit(0).setFaults(c.faults);
        usb->connectUnit();
        const RuleDir rules(c.rule);
        if (c.awaited != nullptr) {
            // Another counter may move first: the unit's replug by reset() reopens it, and a
            // request sent meanwhile is refused.
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    caseLink.postStatusRequest();
                    return caseLink.counters.snapshot().*c.awaited > 0;
                },
                5000));
        }
        SystemPaths paths;
        paths.ruleDirs = {rules.path()};
        const std::string text = formatReport(gatherFacts(*usb, caseLink, image, paths));
        usb.reset(); // before caseLink goes
        for (const std::string& part : c.expected) {
            EXPECT_TRUE(contains(text, part)) << "missing \"" << part << "\" in:\n" << text;
        }
    }
}

TEST_F(ReportTest, NamesTheLoadedModuleByBuildIdAndMapping) {
    const RuleDir rules(false);
    const std::string text = report(rules);
    const std::string id = elfBuildId(image);
    ASSERT_EQ(id.size(), 40u) << "the module is linked with a build id";
    EXPECT_TRUE(contains(text, "Image: embedded, " + std::to_string(image.size()) +
                                   " bytes, build id " + id));
    EXPECT_TRUE(contains(text, "Loaded: yes, every entry point resolved"));
    EXPECT_TRUE(contains(text, "Mapped as: /proc/self/fd/")) << text;
}

TEST(ReportFailure, ALibraryWithoutItsEntryPoints) {
    std::ifstream file(NOT_A_HID_LIBRARY, std::ios::binary);
    const std::vector<uint8_t> foreign((std::istreambuf_iterator<char>(file)),
                                       std::istreambuf_iterator<char>());
    ASSERT_FALSE(foreign.empty());
    LinkState link;
    QuietView view;
    UsbLink usb(
        link, view, [&] { return std::optional(foreign); }, [] {});
    EXPECT_FALSE(usb.bindLibrary());
    const std::string text = formatReport(gatherFacts(usb, link, foreign));
    EXPECT_TRUE(contains(text, "Loaded: no (the HID library has no entry point HID")) << text;
    EXPECT_TRUE(contains(text, "Devices: 0"));
}

// Formatting alone, on facts no backend produces easily: refused nodes, strangers' devices,
// control characters, no link.
TEST(ReportFormat, EdgeFacts) {
    THIDdeviceInfo keyboard{};
    setString(keyboard.path, std::string("/dev/hidraw0") + '\0');
    setString(keyboard.manufacturer, "Maker\x01\n");
    setString(keyboard.product, "Keyboard");
    setString(keyboard.serial, "PRIVATE-SERIAL");
    keyboard.inputCaps[0] = {0x0030, 2, 16, 1};

    struct Case {
        const char* name;
        DiagnosticsFacts facts;
        std::vector<std::string> expected;
        std::vector<std::string> absent;
    };
    DiagnosticsFacts refused;
    refused.unitNode = NodeFacts{"/dev/hidraw3", EACCES};
    DiagnosticsFacts demo;
    demo.program.demo = true;
    demo.unitNode = NodeFacts{"virtual/unit0", ENOENT};
    DiagnosticsFacts dated;
    dated.madeAt = "2026-12-11 06:10:42 +0100";
    dated.program.version = "1.4.0";
    dated.program.build = "g++ 12.2.0, RelWithDebInfo build";
    dated.program.qtVersion = "6.4.2";
    dated.system.distribution = "Debian GNU/Linux 12 (bookworm)";
    dated.unitNode = NodeFacts{"/dev/hidraw3", 0};
    DiagnosticsFacts stranger;
    stranger.devices = {keyboard};
    stranger.system.rules = {"/etc/udev/rules.d/70-qx77zt.rules",
                             "/usr/lib/udev/rules.d/70-qx77zt.rules"};
    const Case cases[] = {
        {"node refused",
         refused,
         {"Unit node: /dev/hidraw3, this user may not open it (Permission denied)",
          "Image: none carried by the program", "Loaded: no\n", "Link\n  not running"},
         {}},
        {"the demo's virtual unit",
         demo,
         {"QX-77ZT diagnostics report\nDemo program: the unit is virtual",
          "Unit node: virtual/unit0, the demo's virtual unit (no device node)\n"},
         {"may not open", "Made:"}},
        {"made at, Qt and system versions",
         dated,
         {"\nMade: 2026-12-11 06:10:42 +0100\n",
          "Program: version 1.4.0, g++ 12.2.0, RelWithDebInfo build, Qt 6.4.2\n",
          "  Distribution: Debian GNU/Linux 12 (bookworm)\n  Kernel: ",
          "Unit node: /dev/hidraw3, this user may open it\n"},
         {"Demo program"}},
        {"another maker's device",
         stranger,
         {"  #0 /dev/hidraw0\n", "manufacturer \"Maker??\"", "serial (not shown)",
          "input values: usage 0x0030 id 2 16 bits x 1", "output values: none",
          "installed as /etc/udev/rules.d/70-qx77zt.rules, /usr/lib/udev/rules.d/70-qx77zt.rules"},
         {"PRIVATE-SERIAL"}},
    };
    for (const Case& c : cases) {
        const std::string text = formatReport(c.facts);
        for (const std::string& part : c.expected) {
            EXPECT_TRUE(contains(text, part)) << c.name << ": missing \"" << part << "\" in:\n"
                                              << text;
        }
        for (const std::string& part : c.absent) {
            EXPECT_FALSE(contains(text, part)) << c.name << ": \"" << part << "\" shown";
        }
    }
}

TEST(ReportGather, NodeAccessAndSystemPaths) {
    QTemporaryDir dir;
    const std::string node = dir.path().toStdString() + "/hidraw9";
    EXPECT_EQ(nodeFacts(node).accessError, ENOENT);
    std::ofstream(node) << "";
    EXPECT_EQ(nodeFacts(node).accessError, 0);

    SystemPaths paths;
    paths.osRelease = dir.path().toStdString() + "/osrelease";
    paths.hidrawClass = dir.path().toStdString();
    paths.udevControl = dir.path().toStdString() + "/no-control";
    paths.ruleDirs = {dir.path().toStdString()};
    std::ofstream(paths.osRelease) << "6.1.0-test-amd64\n";
    paths.distribution = dir.path().toStdString() + "/os-release";
    std::ofstream(paths.distribution)
        << "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n";
    const SystemFacts s = systemFacts(paths);
    EXPECT_EQ(s.kernel, "6.1.0-test-amd64");
    EXPECT_EQ(s.distribution, "Debian GNU/Linux 12 (bookworm)");
    paths.distribution = dir.path().toStdString() + "/none";
    EXPECT_EQ(systemFacts(paths).distribution, "");

    // The report's time: local, to the second, with the offset from UTC.
    const std::string made = reportTime(std::time(nullptr));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}$"))
            .match(QString::fromStdString(made))
            .hasMatch())
        << made;
    EXPECT_TRUE(s.hidraw);
    EXPECT_FALSE(s.udev);
    EXPECT_TRUE(s.rules.empty());
}

} // namespace
} // namespace qx
