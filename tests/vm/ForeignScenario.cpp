// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/vm/EventWait.h"
#include "tests/vm/HidRoundTrip.h"
#include "tests/vm/Scenarios.h"

#include "link/EmbeddedImage.h"
#include "link/USB.h"

#include <array>
#include <cstring>
#include <mutex>

namespace qx::vm {

namespace {

using namespace std::chrono_literals;

// Vendor page, application collection, 8-bit values from 0 to 255.
#define QX_HEAD 0x06, 0x00, 0xff, 0x09, 0x01, 0xa1, 0x01, 0x15, 0x00, 0x26, 0xff, 0x00, 0x75, 0x08

struct NullView : ConnectionView {
    bool controls = false;
    std::string name = "unset";
    void setControlsEnabled(bool enabled) override { controls = enabled; }
    void setDeviceFields(const std::string& n, const std::string&, const std::string&) override {
        name = n;
    }
    void setUpdateButtonsEnabled(bool) override {}
};

// What the library's reader thread hands over.
struct Received {
    std::mutex mutex;
    std::vector<std::pair<THIDreport, std::uint8_t>> reports;
};
Received* received = nullptr;

extern "C" void HID_LIB_CALL collectReport(THIDreport report, std::uint8_t count) {
    std::lock_guard lock(received->mutex);
    received->reports.emplace_back(report, count);
}

std::string n(unsigned v) {
    return std::to_string(v);
}

std::string capText(const THIDvalueCap& cap) {
    return "usage 0x" +
           [&] {
               char t[8];
               std::snprintf(t, sizeof t, "%x", cap.usage);
               return std::string(t);
           }() +
           ", id " + n(cap.reportId) + ", bits " + n(cap.bitSize) + ", count " + n(cap.reportCount);
}

bool sameCap(const THIDvalueCap& cap, std::uint16_t usage, std::uint8_t id, std::uint8_t count) {
    return cap.usage == usage && cap.reportId == id && cap.bitSize == 8 && cap.reportCount == count;
}

struct Cap {
    std::uint16_t usage;
    std::uint8_t id;
    std::uint8_t count;
};

// Expected value caps of one report type, in descriptor order; the rest of the ten are zero.
void checkCaps(Checks& checks, const THIDvalueCap (&caps)[10], const std::vector<Cap>& want,
               const std::string& type) {
    for (std::size_t i = 0; i < 10; ++i) {
        const bool ok = i < want.size() ? sameCap(caps[i], want[i].usage, want[i].id, want[i].count)
                                        : caps[i].usage == 0 && caps[i].reportId == 0 &&
                                              caps[i].bitSize == 0 && caps[i].reportCount == 0;
        if (i < want.size() || !ok) {
            checks.expect(ok, type + " value cap " + n(static_cast<unsigned>(i)), capText(caps[i]));
        }
    }
}

// One input report written on the gadget side and what the library's reader delivers.
void checkInput(Checks& checks, const Fd& hidg, const Bytes& sent, std::uint8_t wantId,
                std::uint8_t wantCount) {
    {
        std::lock_guard lock(received->mutex);
        received->reports.clear();
    }
    const std::string error = writeReport(hidg, sent);
    if (!checks.expect(error.empty(), "input report of " + n(sent.size()) + " bytes written",
                       error)) {
        return;
    }
    const bool arrived = waitUntil(
        [&] {
            std::lock_guard lock(received->mutex);
            return !received->reports.empty();
        },
        5s);
    if (!checks.expect(arrived, "the library's reader delivers it")) {
        return;
    }
    std::lock_guard lock(received->mutex);
    const auto& [report, count] = received->reports.front();
    const Bytes data(sent.begin() + (wantId == 0 ? 0 : 1), sent.end());
    Bytes rest(report.data + data.size(), report.data + sizeof report.data);
    const bool restZero = std::all_of(rest.begin(), rest.end(), [](auto b) { return b == 0; });
    checks.expect(report.reportId == wantId &&
                      std::memcmp(report.data, data.data(), data.size()) == 0 && restZero,
                  "delivered with report ID " + n(wantId) + " in front of its data",
                  hex(Bytes(reinterpret_cast<const std::uint8_t*>(&report),
                            reinterpret_cast<const std::uint8_t*>(&report) + 1 + data.size())));
    checks.expect(count == wantCount, "element count " + n(wantCount), n(count));
}

// A report the host sends and what the gadget reads.
void checkArrives(Checks& checks, const Fd& hidg, const Bytes& want, const std::string& what) {
    const ReadResult got = readReport(hidg, 5s);
    checks.expect(got.bytes && *got.bytes == want,
                  what + " arrives on the gadget as " + n(want.size()) + " bytes",
                  got.bytes ? hex(*got.bytes) : got.errorText);
}

} // namespace

const std::vector<ForeignGadget>& foreignGadgets() {
    static const std::vector<ForeignGadget> gadgets = {
        // No report IDs: 8 bytes in, 4 out, 2 feature.
        {"unnumbered",
         {QX_HEAD, 0x95, 0x08, 0x09, 0x10, 0x81, 0x02, 0x95, 0x04, 0x09,
          0x11,    0x91, 0x02, 0x95, 0x02, 0x09, 0x12, 0xb1, 0x02, 0xc0},
         false},
        // Report 2: 16 bytes in; 3: 4 bytes in; 4: 8 bytes out; 5: 6 bytes feature.
        {"numbered",
         {QX_HEAD, 0x85, 0x02, 0x95, 0x10, 0x09, 0x20, 0x81, 0x02, 0x85, 0x03, 0x95,
          0x04,    0x09, 0x21, 0x81, 0x02, 0x85, 0x04, 0x95, 0x08, 0x09, 0x22, 0x91,
          0x02,    0x85, 0x05, 0x95, 0x06, 0x09, 0x23, 0xb1, 0x02, 0xc0},
         true},
    };
    return gadgets;
}

const ForeignGadget* findForeignGadget(const std::string& kind) {
    for (const ForeignGadget& g : foreignGadgets()) {
        if (kind == g.kind) {
            return &g;
        }
    }
    return nullptr;
}

void runForeignScenario(Checks& checks, const ForeignGadget& gadget, const std::string& hidgPath) {
    Received collected;
    received = &collected;
    LinkState link;
    NullView view;
    UsbLink usb(link, view, &embeddedHidImage, [] {});

    checks.step(std::string("a foreign gadget, ") + gadget.kind + " reports");
    if (!checks.expect(usb.bindLibrary(), "bindLibrary loads the embedded module",
                       usb.lastError())) {
        return;
    }
    checks.expect(!link.connected && !view.controls && view.name.empty(),
                  "the program does not take another maker's device for the unit");

    // From here the library is driven directly; nothing plugs or unplugs meanwhile, so the link's
    // device-change handler does not rescan under the test.
    const HidEntryPoints& hid = usb.library()->entry();
    hid.setEventHandler(&collectReport);
    const std::uint8_t count = hid.scanForDevices();
    int slot = -1;
    THIDdeviceInfo info{};
    for (std::uint8_t i = 0; i < count && i < 31 && slot < 0; ++i) {
        std::memset(&info, 0, sizeof info);
        hid.getDeviceInfo(i, &info);
        if (info.vendorId == 0x1209 && info.productId == 0x0001) {
            slot = i;
        }
    }
    if (!checks.expect(slot >= 0, "scan lists the gadget")) {
        return;
    }
    checks.expect(textOf(info.manufacturer) != kUnitManufacturer, "manufacturer is not the unit's",
                  "\"" + textOf(info.manufacturer) + "\"");

    const unsigned in = gadget.numbered ? 17 : 9, out = gadget.numbered ? 9 : 5,
                   feature = gadget.numbered ? 7 : 3;
    checks.expect(info.inputReportLength == in && info.outputReportLength == out &&
                      info.featureReportLength == feature,
                  "report lengths in " + n(in) + ", out " + n(out) + ", feature " + n(feature),
                  n(info.inputReportLength) + ", " + n(info.outputReportLength) + ", " +
                      n(info.featureReportLength));
    if (gadget.numbered) {
        checkCaps(checks, info.inputCaps, {{0x20, 2, 16}, {0x21, 3, 4}}, "input");
        checkCaps(checks, info.outputCaps, {{0x22, 4, 8}}, "output");
        checkCaps(checks, info.featureCaps, {{0x23, 5, 6}}, "feature");
    } else {
        checkCaps(checks, info.inputCaps, {{0x10, 0, 8}}, "input");
        checkCaps(checks, info.outputCaps, {{0x11, 0, 4}}, "output");
        checkCaps(checks, info.featureCaps, {{0x12, 0, 2}}, "feature");
    }
    if (!checks.expect(hid.openDevice(static_cast<std::uint8_t>(slot)), "opens")) {
        return;
    }
    checks.expect(hid.inputReportSize() == in && hid.outputReportSize() == out &&
                      hid.featureReportSize() == feature,
                  "open device report sizes");
    Fd hidg = openReadWrite(hidgPath);
    if (!checks.expect(hidg.valid(), "gadget node opens", hidgPath)) {
        return;
    }

    if (gadget.numbered) {
        checks.expect(hid.inputReportCount(2) == 16 && hid.inputReportCount(3) == 4 &&
                          hid.outputReportCount(4) == 8 && hid.featureReportCount(5) == 6,
                      "element counts by report ID");
        checks.expect(hid.inputReportCount(9) == 16, "an unknown ID counts the longest report",
                      n(hid.inputReportCount(9)));
        checkInput(checks, hidg, patternReport(2, 0x40, 17), 2, 16);
        checkInput(checks, hidg, patternReport(3, 0x60, 5), 3, 4);

        Bytes output = patternReport(4, 0x70, 9);
        checks.expect(hid.setOutputReport(output.data()) == 8, "HIDSetOutputReport of report 4");
        checkArrives(checks, hidg, output, "the output report, ID first,");
        THIDreport written{};
        written.reportId = 4;
        std::memcpy(written.data, output.data() + 1, 8);
        checks.expect(hid.writeDevice(written) == 8, "HIDwriteDevice of report 4");
        checkArrives(checks, hidg, output, "the written report, ID first,");

        Bytes setFeature = patternReport(5, 0x90, 7);
        checks.expect(hid.setFeatureReport(setFeature.data()) == 6, "HIDSetFeatureReport of 5");
        checkArrives(checks, hidg, setFeature, "the feature report, ID first,");
        Bytes getFeature(7, 0xEE);
        getFeature[0] = 5;
        const std::uint8_t got = hid.getFeatureReport(getFeature.data());
        // The gadget function answers every GET_REPORT with zeros of the asked length, ID byte
        // included: what matters here is that the request goes through and fills the buffer.
        checks.expect(got > 0, "HIDGetFeatureReport of 5 is answered",
                      "count " + n(got) + ": " + hex(getFeature));
    } else {
        checks.expect(hid.inputReportCount(0) == 8 && hid.outputReportCount(0) == 4 &&
                          hid.featureReportCount(0) == 2,
                      "element counts of report 0");
        checkInput(checks, hidg, patternReport(0x30, 0x31, 8), 0, 8);

        Bytes output = patternReport(0, 0x50, 5);
        checks.expect(hid.setOutputReport(output.data()) == 4, "HIDSetOutputReport with ID 0");
        checkArrives(checks, hidg, Bytes(output.begin() + 1, output.end()),
                     "the output report, without the 0,");
        THIDreport written{};
        std::memcpy(written.data, output.data() + 1, 4);
        checks.expect(hid.writeDevice(written) == 4, "HIDwriteDevice with ID 0");
        checkArrives(checks, hidg, Bytes(output.begin() + 1, output.end()),
                     "the written report, without the 0,");

        Bytes setFeature = patternReport(0, 0xA0, 3);
        checks.expect(hid.setFeatureReport(setFeature.data()) == 2,
                      "HIDSetFeatureReport with ID 0");
        checkArrives(checks, hidg, Bytes(setFeature.begin() + 1, setFeature.end()),
                     "the feature report, without the 0,");
        Bytes getFeature(3, 0xEE);
        getFeature[0] = 0;
        const std::uint8_t got = hid.getFeatureReport(getFeature.data());
        checks.expect(got == 2, "HIDGetFeatureReport with ID 0 is answered",
                      "count " + n(got) + ": " + hex(getFeature));
    }
    hid.setEventHandler(nullptr);
    hid.closeDevice();
    received = nullptr;
}

} // namespace qx::vm
