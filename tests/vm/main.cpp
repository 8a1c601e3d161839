// SPDX-License-Identifier: GPL-3.0-or-later
// Proof that reports travel both ways between hidraw and a USB HID gadget on a real kernel, and
// that unplugging and plugging the gadget takes the hidraw node away and brings it back. Runs as
// root inside the test machine after `tools/vm/gadget.sh up`:
//
//   vm_hid_roundtrip --gadget tools/vm/gadget.sh [--hidg /dev/hidg0] [--manufacturer S]
//                    [--product S] [--serial S] [--bcd NNNN] [--timeout-ms N]
//
// Exits 0 when every check passed, 1 otherwise, 2 on a usage error.
#include "tests/vm/HidRoundTrip.h"
#include "tests/vm/HidrawNode.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace qx::vm;
namespace fs = std::filesystem;

// The unit's report descriptor as the gadget is made with by default.
const Bytes kUnitDescriptor = {0x06, 0x00, 0xff, 0x09, 0x01, 0xa1, 0x01, 0x85, 0x01, 0x15,
                               0x00, 0x26, 0xff, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                               0x81, 0x02, 0x09, 0x02, 0x95, 0x40, 0x91, 0x02, 0xc0};
constexpr std::uint8_t kReportId = 1;
constexpr std::size_t kReportLength = 65; // report ID byte + 64 data bytes
constexpr UsbIds kTestIds{0x1209, 0x0001};
constexpr std::uint32_t kBusUsb = 3;

struct Options {
    std::string gadget;
    std::string hidg = "/dev/hidg0";
    UsbStrings expected{"ORB-MX", "QX-77ZT", "QX7700000042", "0102"};
    std::chrono::milliseconds timeout{10000};
};

class Checks {
public:
    bool expect(bool ok, const std::string& what, const std::string& detail = {}) {
        std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                    detail.c_str());
        std::fflush(stdout);
        (ok ? passed_ : failed_)++;
        return ok;
    }
    bool allPassed() const { return failed_ == 0 && passed_ > 0; }
    void summary() const {
        std::printf("vm proof: %d of %d checks passed\n", passed_, passed_ + failed_);
    }

private:
    int passed_ = 0;
    int failed_ = 0;
};

int runTool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(child, &status, 0) < 0 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

void checkStrings(Checks& checks, const HidrawNode& node, const UsbStrings& expected) {
    const UsbStrings got = readUsbStrings(node.usbDevice);
    checks.expect(got.manufacturer == expected.manufacturer, "manufacturer string",
                  quoted(got.manufacturer));
    checks.expect(got.product == expected.product, "product string", quoted(got.product));
    checks.expect(got.serial == expected.serial, "serial string", quoted(got.serial));
    checks.expect(got.bcdDevice == expected.bcdDevice, "bcdDevice", got.bcdDevice);
}

// Output report: hidraw write() -> SET_REPORT on the control pipe (the gadget has no OUT
// endpoint) -> /dev/hidg0. The ID byte travels with the report.
void checkOutputReport(Checks& checks, const Fd& hidraw, const Fd& hidg, std::uint8_t seed,
                       std::chrono::milliseconds timeout) {
    const Bytes sent = patternReport(kReportId, seed, kReportLength);
    const std::string error = writeReport(hidraw, sent);
    if (!checks.expect(error.empty(), "output report written to hidraw", error)) {
        return;
    }
    const ReadResult got = readReport(hidg, timeout);
    if (!checks.expect(got.bytes.has_value(), "output report arrives on the gadget",
                       got.errorText)) {
        return;
    }
    checks.expect(*got.bytes == sent, "output report arrives whole, ID byte first",
                  std::to_string(got.bytes->size()) + " bytes: " + hex(*got.bytes));
}

// Input report: /dev/hidg0 write() -> interrupt IN endpoint -> hidraw read().
void checkInputReport(Checks& checks, const Fd& hidraw, const Fd& hidg, std::uint8_t seed,
                      std::chrono::milliseconds timeout) {
    const Bytes sent = patternReport(kReportId, seed, kReportLength);
    const std::string error = writeReport(hidg, sent);
    if (!checks.expect(error.empty(), "input report written to the gadget", error)) {
        return;
    }
    const ReadResult got = readReport(hidraw, timeout);
    if (!checks.expect(got.bytes.has_value(), "input report arrives on hidraw", got.errorText)) {
        return;
    }
    checks.expect(*got.bytes == sent, "input report arrives whole, ID byte first",
                  std::to_string(got.bytes->size()) + " bytes: " + hex(*got.bytes));
}

std::optional<HidrawNode> findNode() {
    return findHidraw("/sys/class/hidraw", kTestIds);
}

void run(Checks& checks, const Options& options) {
    auto node = findNode();
    if (!checks.expect(node.has_value(), "hidraw node of 1209:0001 found in sysfs")) {
        return;
    }
    checks.expect(fs::exists(node->devNode), "device node exists", node->devNode.string());
    checkStrings(checks, *node, options.expected);

    Fd hidraw = openReadWrite(node->devNode.string());
    Fd hidg = openReadWrite(options.hidg);
    if (!checks.expect(hidraw.valid(), "hidraw opens for reading and writing") ||
        !checks.expect(hidg.valid(), "gadget node opens", options.hidg)) {
        return;
    }
    const auto info = rawInfo(hidraw);
    checks.expect(info && info->bus == kBusUsb && info->vendor == kTestIds.vendor &&
                      info->product == kTestIds.product,
                  "HIDIOCGRAWINFO gives bus 3, 1209:0001");
    const auto descriptor = reportDescriptor(hidraw);
    checks.expect(descriptor && *descriptor == kUnitDescriptor, "report descriptor read back",
                  descriptor ? hex(*descriptor) : "ioctl failed");

    checkOutputReport(checks, hidraw, hidg, 0x10, options.timeout);
    checkInputReport(checks, hidraw, hidg, 0x80, options.timeout);

    // Unplug: the node goes, and the handle still open reports the loss instead of blocking.
    checks.expect(runTool({options.gadget, "unplug"}) == 0, "gadget unbound");
    checks.expect(!fs::exists(node->devNode) && !findNode(), "hidraw node gone after unbind");
    const ReadResult afterUnplug = readReport(hidraw, options.timeout);
    checks.expect(!afterUnplug.bytes && (afterUnplug.pollEvents & (POLLHUP | POLLERR)) != 0,
                  "open hidraw handle sees the unplug",
                  "revents " + std::to_string(afterUnplug.pollEvents) + ", " +
                      afterUnplug.errorText);
    const std::string writeAfter = writeReport(hidraw, patternReport(kReportId, 0, kReportLength));
    checks.expect(!writeAfter.empty(), "write to the unplugged handle fails", writeAfter);
    hidraw = Fd();
    hidg = Fd();

    checks.expect(runTool({options.gadget, "plug"}) == 0, "gadget bound again");
    node = findNode();
    if (!checks.expect(node && fs::exists(node->devNode), "hidraw node back after bind")) {
        return;
    }
    checkStrings(checks, *node, options.expected);
    hidraw = openReadWrite(node->devNode.string());
    hidg = openReadWrite(options.hidg);
    if (checks.expect(hidraw.valid() && hidg.valid(), "both nodes open after replug")) {
        checkOutputReport(checks, hidraw, hidg, 0x20, options.timeout);
        checkInputReport(checks, hidraw, hidg, 0x90, options.timeout);
    }
    hidraw = Fd();
    hidg = Fd();

    // Boot mode is the same unit under another product string.
    const std::string bootName = options.expected.product + " (boot)";
    checks.expect(runTool({options.gadget, "rename", bootName}) == 0, "gadget renamed");
    node = findNode();
    checks.expect(node && readUsbStrings(node->usbDevice).product == bootName,
                  "product string after rename", quoted(bootName));
}

bool parse(int argc, char** argv, Options& options) {
    std::map<std::string, std::string*> strings{
        {"--gadget", &options.gadget},
        {"--hidg", &options.hidg},
        {"--manufacturer", &options.expected.manufacturer},
        {"--product", &options.expected.product},
        {"--serial", &options.expected.serial},
        {"--bcd", &options.expected.bcdDevice},
    };
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--timeout-ms") {
            const std::string_view value = argv[i + 1];
            int ms = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), ms);
            if (error != std::errc() || end != value.data() + value.size() || ms <= 0) {
                return false;
            }
            options.timeout = std::chrono::milliseconds(ms);
        } else if (auto it = strings.find(name); it != strings.end()) {
            *it->second = argv[i + 1];
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.gadget.empty();
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: vm_hid_roundtrip --gadget PATH [--hidg NODE] [--manufacturer S] "
                     "[--product S] [--serial S] [--bcd NNNN] [--timeout-ms N]\n");
        return 2;
    }
    Checks checks;
    run(checks, options);
    checks.summary();
    return checks.allPassed() ? 0 : 1;
}
