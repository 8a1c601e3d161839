// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/vm/EventWait.h"
#include "tests/vm/HidRoundTrip.h"
#include "tests/vm/Scenarios.h"

#include "diag/TrafficRecorder.h"
#include "link/EmbeddedImage.h"
#include "link/USB.h"
#include "update/UpdateRun.h"

#include <QProcess>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace qx::vm {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kSettle = 30s; // unplug, plug and rename wait for udev under emulation

struct RecordingView : ConnectionView {
    bool controls = false;
    bool updateButtons = false;
    std::string name, serial, version, inaccessible;
    std::vector<bool> controlHistory;

    void setControlsEnabled(bool enabled) override {
        controls = enabled;
        controlHistory.push_back(enabled);
    }
    void setDeviceFields(const std::string& n, const std::string& s,
                         const std::string& v) override {
        name = n;
        serial = s;
        version = v;
    }
    void setUpdateButtonsEnabled(bool enabled) override { updateButtons = enabled; }
    void setUnitInaccessible(const std::string& path) override { inaccessible = path; }
};

// Called on the library's reader thread.
struct CountingAnswers : AnswerSink {
    std::atomic<int> finishes{0};
    std::atomic<bool> lastVerdict{false};
    std::atomic<int> resets{0};
    void finishAnswer(bool success) override {
        lastVerdict = success;
        ++finishes;
    }
    void resetAnswer() override { ++resets; }
};

std::string q(const std::string& s) {
    return "\"" + s + "\"";
}

std::vector<std::uint8_t> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool sameCap(const THIDvalueCap& cap, std::uint16_t usage, std::uint8_t id, std::uint8_t bits,
             std::uint8_t count) {
    return cap.usage == usage && cap.reportId == id && cap.bitSize == bits &&
           cap.reportCount == count;
}

std::string capText(const THIDvalueCap& cap) {
    return "usage " + std::to_string(cap.usage) + ", id " + std::to_string(cap.reportId) +
           ", bits " + std::to_string(cap.bitSize) + ", count " + std::to_string(cap.reportCount);
}

// Asks the gadget unit for its memory files and waits until all three are there.
bool dumpUnit(const QProcess& unit, const fs::path& dir) {
    for (const char* name : {"flash.bin", "eeprom.bin", "settings.bin"}) {
        fs::remove(dir / name);
    }
    ::kill(static_cast<pid_t>(unit.processId()), SIGHUP);
    return waitUntil(
        [&] {
            return fs::exists(dir / "flash.bin") && fs::exists(dir / "eeprom.bin") &&
                   fs::exists(dir / "settings.bin");
        },
        10s);
}

class UnitScenario {
public:
    UnitScenario(Checks& checks, const UnitOptions& options)
        : checks_(checks), options_(options),
          usb_(
              link_, view_, &embeddedHidImage, [this] { ++redraws_; }, &answers_) {}

    ~UnitScenario() {
        statusTimer_.stop();
        if (unit_.state() != QProcess::NotRunning) {
            unit_.kill();
            unit_.waitForFinished(5000);
        }
    }

    void run() {
        if (!startUnit() || !bindAndConnect()) {
            return;
        }
        libraryTable();
        record("status-settings", [&] { statusAndSettings(); });
        unplugAndPlug();
        if (bootMode()) {
            record("short-update", [&] { firmwareUpdate(); });
            leaveUpdate();
        }
        stopUnit();
    }

private:
    // With QX_VM_RECORD set, records the traffic of `step` and prints the recording on standard
    // output between marker lines (the guest cannot write to the host), for the replay fixtures
    // of tests/diag.
    template <typename F>
    void record(const std::string& name, F step) {
        const char* wanted = std::getenv("QX_VM_RECORD");
        if (wanted == nullptr || *wanted == '\0') {
            step();
            return;
        }
        const fs::path file = fs::path(options_.memoryDir) / (name + ".txt");
        const std::string error =
            recorder_.start(file.string(), {"0.1.0", view_.name + ", serial " + view_.serial +
                                                         ", version " + view_.version});
        checks_.expect(error.empty(), "recording " + name, error);
        link_.tap = &recorder_;
        step();
        recorder_.stop();
        checks_.expect(recorder_.waitWritten(std::chrono::seconds(10)), "recording " + name,
                       "not written within 10 s");
        std::ifstream in(file, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        std::printf("=== recording %s begin ===\n%s=== recording %s end ===\n", name.c_str(),
                    text.c_str(), name.c_str());
        std::fflush(stdout);
    }

    bool startUnit() {
        checks_.step("gadget unit");
        unit_.setProcessChannelMode(QProcess::ForwardedChannels);
        unit_.start(QString::fromStdString(options_.unitProgram),
                    {"--gadget", QString::fromStdString(options_.gadgetScript), "--memory-dir",
                     QString::fromStdString(options_.memoryDir)});
        return checks_.expect(unit_.waitForStarted(5000), "gadget unit started",
                              options_.unitProgram);
    }

    bool bindAndConnect() {
        checks_.step("binding the embedded HID library and connecting");
        const bool bound = usb_.bindLibrary();
        checks_.expect(bound, "bindLibrary loads the embedded module", usb_.lastError());
        if (!bound) {
            return false;
        }
        checks_.expect(link_.connected.load(), "connected to the unit at binding");
        checks_.expect(!link_.bootMode.load(), "normal mode");
        checks_.expect(view_.controls, "controls enabled");
        checks_.expect(!view_.updateButtons, "update buttons disabled");
        checks_.expect(view_.name == "QX-77ZT", "device field name", q(view_.name));
        checks_.expect(view_.serial == "QX7700000042", "device field serial", q(view_.serial));
        checks_.expect(view_.version == "1.2", "device field version", q(view_.version));
        checks_.expect(view_.inaccessible.empty(), "unit not reported inaccessible",
                       q(view_.inaccessible));
        // The main window's status timer.
        QObject::connect(&statusTimer_, &QTimer::timeout, [this] { link_.postStatusRequest(); });
        statusTimer_.start(100);
        return link_.connected.load();
    }

    void libraryTable() {
        checks_.step("the library's device table and the open device");
        const HidEntryPoints& hid = usb_.library()->entry();
        THIDdeviceInfo unit{};
        int found = -1;
        for (std::uint8_t i = 0; i < 31 && found < 0; ++i) {
            THIDdeviceInfo info;
            std::memset(&info, 0, sizeof info);
            hid.getDeviceInfo(i, &info);
            if (textOf(info.manufacturer) == kUnitManufacturer) {
                unit = info;
                found = i;
            }
        }
        if (!checks_.expect(found >= 0, "scan lists a device of \"ORB-MX\"")) {
            return;
        }
        const std::string path = textOf(unit.path);
        checks_.expect(path.size() >= 2 && path.back() == '\0' &&
                           path.substr(0, path.size() - 1) == gadgetNode(),
                       "path is the gadget's hidraw node with one NUL",
                       q(path.substr(0, path.empty() ? 0 : path.size() - 1)));
        checks_.expect(textOf(unit.product) == "QX-77ZT", "product", q(textOf(unit.product)));
        checks_.expect(textOf(unit.serial) == "QX7700000042", "serial", q(textOf(unit.serial)));
        checks_.expect(unit.vendorId == 0x1209 && unit.productId == 0x0001, "ids 1209:0001");
        checks_.expect(unit.releaseNumber == 0x0102, "release number 0x0102",
                       std::to_string(unit.releaseNumber));
        checks_.expect(unit.inputReportLength == 65 && unit.outputReportLength == 65 &&
                           unit.featureReportLength == 0,
                       "report lengths in 65, out 65, feature 0",
                       std::to_string(unit.inputReportLength) + ", " +
                           std::to_string(unit.outputReportLength) + ", " +
                           std::to_string(unit.featureReportLength));
        checks_.expect(sameCap(unit.inputCaps[0], 1, 1, 8, 64), "input value cap",
                       capText(unit.inputCaps[0]));
        checks_.expect(sameCap(unit.outputCaps[0], 2, 1, 8, 64), "output value cap",
                       capText(unit.outputCaps[0]));
        checks_.expect(sameCap(unit.inputCaps[1], 0, 0, 0, 0) &&
                           sameCap(unit.outputCaps[1], 0, 0, 0, 0),
                       "one value cap each");
        checks_.expect(unit.readWrite == 1, "listed read-write");
        checks_.expect(hid.inputReportSize() == 65 && hid.outputReportSize() == 65 &&
                           hid.featureReportSize() == 0,
                       "open device report sizes 65, 65, 0");
        checks_.expect(hid.inputReportCount(1) == 64 && hid.outputReportCount(1) == 64,
                       "open device element counts for report 1: 64 in, 64 out");
    }

    void statusAndSettings() {
        checks_.step("status answers and a settings write");
        const bool levels = waitUntil(
            [&] { return link_.status().levelLeft == 0 && link_.status().levelRight == -2; }, 10s);
        checks_.expect(levels, "status answers reach DeviceStatus (levels 0 and -2)",
                       std::to_string(link_.status().levelLeft) + ", " +
                           std::to_string(link_.status().levelRight));
        checks_.expect(link_.settings() == factoryDefaults(), "the unit's settings arrive");
        // The worker asks for the redraw after the reader has stored the answer, so the levels
        // can be seen a moment before the first redraw is counted.
        checks_.expect(waitUntil([&] { return redraws_.load() > 0; }, 5s),
                       "answers ask for redraws");

        DeviceSettings wanted = factoryDefaults();
        wanted.muteOn = 1;
        wanted.gainLeft = -9;
        wanted.preset = 2;
        link_.save([&](DeviceSettings& s) { s = wanted; });
        // The save clears writeAcked; the unit's answer may set it again before anyone looks.
        const bool acked = waitUntil([&] { return link_.writeAcked(); }, 10s);
        checks_.expect(acked, "the unit acknowledges the settings write");
        checks_.expect(waitUntil([&] { return link_.settings() == wanted; }, 5s),
                       "answers carry the written settings");
        if (checks_.expect(dumpUnit(unit_, options_.memoryDir), "gadget unit saved its state")) {
            const auto held = readFile(fs::path(options_.memoryDir) / "settings.bin");
            const auto bytes = rawBytes(wanted);
            checks_.expect(held == std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                           "the gadget unit holds the written settings", hex(held));
        }
    }

    void unplugAndPlug() {
        checks_.step("unplug and plug, followed without any call from the test");
        const std::size_t before = view_.controlHistory.size();
        checks_.expect(runTool({options_.gadgetScript, "unplug"}, kSettle) == 0, "gadget unbound");
        checks_.expect(waitUntil([&] { return !link_.connected && !view_.controls; }, 10s),
                       "disconnected, controls off");
        checks_.expect(view_.name.empty() && view_.serial.empty() && view_.version.empty(),
                       "device fields emptied");
        checks_.expect(runTool({options_.gadgetScript, "plug"}, kSettle) == 0, "gadget bound");
        checks_.expect(waitUntil([&] { return link_.connected && view_.controls; }, 10s),
                       "reconnected by itself, controls on");
        checks_.expect(view_.name == "QX-77ZT", "device field name again", q(view_.name));
        bool sawOff = false, sawOnAfterOff = false;
        for (std::size_t i = before; i < view_.controlHistory.size(); ++i) {
            sawOnAfterOff = sawOnAfterOff || (sawOff && view_.controlHistory[i]);
            sawOff = sawOff || !view_.controlHistory[i];
        }
        checks_.expect(sawOff && sawOnAfterOff, "the view saw controls off, then on");
        const int redrawsBefore = redraws_.load();
        checks_.expect(waitUntil([&] { return redraws_.load() > redrawsBefore + 3; }, 10s),
                       "status answers flow again after the replug");
    }

    bool bootMode() {
        checks_.step("restart in boot mode");
        ::kill(static_cast<pid_t>(unit_.processId()), SIGUSR1);
        const bool boot = waitUntil(
            [&] { return link_.connected && link_.bootMode && view_.updateButtons; }, kSettle);
        checks_.expect(boot, "connected in boot mode, update buttons enabled");
        checks_.expect(!view_.controls, "controls stay off");
        checks_.expect(view_.name == "QX-77ZT (boot)", "device field name", q(view_.name));
        // One plug brings several device events, each a close, rescan and reopen; a request
        // sent while the unit is closed fails, as it must. An operator starts the update later.
        checks_.expect(quiet(), "device events have settled",
                       std::to_string(view_.controlHistory.size()) + " connections so far");
        return boot;
    }

    // No connection attempt for a second.
    bool quiet() {
        std::size_t seen = view_.controlHistory.size();
        auto since = std::chrono::steady_clock::now();
        return waitUntil(
            [&] {
                if (view_.controlHistory.size() != seen) {
                    seen = view_.controlHistory.size();
                    since = std::chrono::steady_clock::now();
                }
                return std::chrono::steady_clock::now() - since > 1s;
            },
            kSettle);
    }

    void firmwareUpdate() {
        checks_.step("firmware update");
        std::mt19937 random(77);
        UpdateImages images;
        images.flash.resize(3000);
        images.eeprom.resize(700);
        for (auto* image : {&images.flash, &images.eeprom}) {
            for (auto& b : *image) {
                b = static_cast<std::uint8_t>(random());
            }
        }
        std::atomic<bool> done{false};
        std::atomic<int> lastPercent{-1};
        RunOutcome outcome = RunOutcome::Stopped;
        link_.updateInProgress = true;
        link_.transferRunning = true;
        const auto start = std::chrono::steady_clock::now();
        std::thread runner([&] {
            UpdateRun run(link_);
            outcome = run.run(images, [&](int percent) { lastPercent = percent; });
            done = true;
        });
        const bool ended = waitUntil([&] { return done.load(); }, 120s);
        if (!ended) {
            link_.shutdown(); // frees the run's wait so the thread can be joined
        }
        runner.join();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        checks_.expect(ended && outcome == RunOutcome::Completed, "every block sent, finish posted",
                       "outcome " + std::to_string(static_cast<int>(outcome)) + " after " +
                           std::to_string(took.count()) + " ms, progress " +
                           std::to_string(lastPercent.load()) + "%");
        const bool verdict = waitUntil([&] { return answers_.finishes.load() > 0; }, 10s);
        checks_.expect(verdict && answers_.lastVerdict.load(),
                       "the unit's verdict 0xFA arrives with success");
        checks_.expect(answers_.finishes.load() == 1, "exactly one verdict",
                       std::to_string(answers_.finishes.load()));
        link_.updateInProgress = false;
        link_.transferRunning = false;
        if (!checks_.expect(dumpUnit(unit_, options_.memoryDir),
                            "gadget unit saved its memories")) {
            return;
        }
        const auto flash = readFile(fs::path(options_.memoryDir) / "flash.bin");
        const auto eeprom = readFile(fs::path(options_.memoryDir) / "eeprom.bin");
        checkImage(flash, images.flash, "flash");
        checkImage(eeprom, images.eeprom, "EEPROM");
    }

    // The image byte for byte, then 0xFF: the padding of its last block and the untouched rest.
    void checkImage(const std::vector<std::uint8_t>& memory, const std::vector<std::uint8_t>& image,
                    const std::string& name) {
        if (!checks_.expect(memory.size() >= image.size() + 512, name + " memory saved",
                            std::to_string(memory.size()) + " bytes")) {
            return;
        }
        const auto mismatch = std::mismatch(image.begin(), image.end(), memory.begin());
        checks_.expect(mismatch.first == image.end(), name + " image landed byte for byte",
                       mismatch.first == image.end()
                           ? std::to_string(image.size()) + " bytes"
                           : "first difference at " +
                                 std::to_string(mismatch.first - image.begin()) + ", memory " +
                                 hex(std::span(memory).first(8)) + ", image " +
                                 hex(std::span(image).first(8)));
        const bool padded = std::all_of(memory.begin() + static_cast<std::ptrdiff_t>(image.size()),
                                        memory.end(), [](std::uint8_t b) { return b == 0xFF; });
        checks_.expect(padded, name + " memory after the image is 0xFF");
    }

    void leaveUpdate() {
        checks_.step("leave update: the unit restarts in normal mode");
        link_.post(cmd::kLeaveUpdate);
        const bool normal = waitUntil(
            [&] { return link_.connected && !link_.bootMode && view_.controls; }, kSettle);
        checks_.expect(normal, "back in normal mode, controls enabled");
        checks_.expect(!view_.updateButtons, "update buttons disabled");
        checks_.expect(view_.name == "QX-77ZT", "device field name", q(view_.name));
    }

    void stopUnit() {
        checks_.step("gadget unit ends");
        ::kill(static_cast<pid_t>(unit_.processId()), SIGTERM);
        const bool ended = waitUntil([&] { return unit_.state() == QProcess::NotRunning; }, 10s);
        checks_.expect(ended && unit_.exitStatus() == QProcess::NormalExit && unit_.exitCode() == 0,
                       "gadget unit ended cleanly, every restart and save worked",
                       "exit code " + std::to_string(unit_.exitCode()));
    }

    Checks& checks_;
    const UnitOptions& options_;
    TrafficRecorder recorder_; // outlives the link's threads, which may call it
    LinkState link_;
    RecordingView view_;
    CountingAnswers answers_;
    std::atomic<int> redraws_{0};
    QProcess unit_;
    QTimer statusTimer_;
    UsbLink usb_;
};

} // namespace

void runUnitScenario(Checks& checks, const UnitOptions& options) {
    UnitScenario(checks, options).run();
}

} // namespace qx::vm
