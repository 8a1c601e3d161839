// SPDX-License-Identifier: GPL-3.0-or-later
#include "diag/DiagnosticsReport.h"

#include "levels/LocalTime.h"
#include "link/UsbLink.h"
#include "panel/UnitAccessHint.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#ifndef QX_PROGRAM_VERSION
#define QX_PROGRAM_VERSION "unknown"
#endif
#ifndef QX_BUILD_TYPE
#define QX_BUILD_TYPE "unknown"
#endif

namespace qx {

namespace {

// Device strings come from whatever is plugged in: keep the report one readable line each.
std::string printable(const std::string& s) {
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7F) ? c : '?';
    }
    return out;
}

std::string quoted(const THIDstring& s) {
    return '"' + printable(textOf(s)) + '"';
}

std::string hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v & 0xFFFF);
    return buf;
}

const char* yesNo(bool b) {
    return b ? "yes" : "no";
}

bool isUnit(const THIDdeviceInfo& d) {
    return textOf(d.manufacturer) == kUnitManufacturer;
}

std::string caps(const THIDvalueCap (&table)[10]) {
    std::string out;
    for (const THIDvalueCap& c : table) {
        if (c.usage == 0 && c.reportCount == 0) {
            continue; // an unused slot
        }
        if (!out.empty()) {
            out += ", ";
        }
        out += "usage 0x" + hex4(c.usage) + " id " + std::to_string(c.reportId) + " " +
               std::to_string(c.bitSize) + " bits x " + std::to_string(c.reportCount);
    }
    return out.empty() ? "none" : out;
}

void deviceRow(std::ostringstream& out, std::size_t index, const THIDdeviceInfo& d) {
    out << "  #" << index << " " << printable(textOf(d.path).c_str()) << "\n";
    out << "    ids " << hex4(d.vendorId) << ":" << hex4(d.productId) << ", release "
        << versionText(d.releaseNumber) << "\n";
    // Serial numbers of other devices (a keyboard's, a phone's) are nobody's business here.
    out << "    manufacturer " << quoted(d.manufacturer) << ", product " << quoted(d.product)
        << ", serial " << (isUnit(d) ? quoted(d.serial) : std::string("(not shown)")) << "\n";
    out << "    report lengths: output " << d.outputReportLength << ", input "
        << d.inputReportLength << ", feature " << d.featureReportLength << "\n";
    out << "    output values: " << caps(d.outputCaps) << "\n";
    out << "    input values: " << caps(d.inputCaps) << "\n";
    out << "    feature values: " << caps(d.featureCaps) << "\n";
    out << "    read-write: " << yesNo(d.readWrite != 0) << "\n";
}

} // namespace

namespace {

void linkLines(std::ostream& out, const LinkFacts& l) {
    out << "  connected: " << yesNo(l.connected) << ", boot mode: " << yesNo(l.bootMode)
        << ", acknowledged: " << yesNo(l.writeAcked) << ", pending: " << yesNo(l.pending) << "\n";
    const LinkCountersSnapshot& c = l.counters;
    out << "  frames sent: " << c.framesSent << ", pieces refused: " << c.piecesRefused << "\n";
    out << "  answers received: " << c.answersReceived << ", CRC failures: " << c.crcFailures
        << ", length failures: " << c.lengthFailures << "\n";
    out << "  resends: " << c.resends << "\n";
    out << "  last answer: "
        << (c.lastAnswerAge ? std::to_string(c.lastAnswerAge->count()) + " ms ago"
                            : std::string("none yet"))
        << "\n";
}

} // namespace

std::string formatReport(const DiagnosticsFacts& f) {
    std::ostringstream out;
    out << "QX-77ZT diagnostics report\n";
    if (f.program.demo) {
        out << "Demo program: the unit is virtual, held by the program itself\n";
    }
    if (!f.madeAt.empty()) {
        out << "Made: " << f.madeAt << "\n";
    }
    out << "Program: version " << f.program.version << ", " << f.program.build;
    if (!f.program.qtVersion.empty()) {
        out << ", Qt " << f.program.qtVersion;
    }
    out << "\n\n";

    const LibraryFacts& lib = f.library;
    out << "HID library\n";
    if (lib.imageSize == 0) {
        out << "  Image: none carried by the program\n";
    } else {
        out << "  Image: embedded, " << lib.imageSize << " bytes, build id "
            << (lib.buildId.empty() ? "(none)" : lib.buildId) << "\n";
    }
    if (lib.loaded) {
        out << "  Loaded: yes, every entry point resolved\n";
        char base[32];
        std::snprintf(base, sizeof base, "%#llx", static_cast<unsigned long long>(lib.baseAddress));
        out << "  Mapped as: " << lib.mappedAs << " at " << base << "\n";
    } else {
        out << "  Loaded: no" << (lib.error.empty() ? std::string() : " (" + lib.error + ")")
            << "\n";
    }
    out << "\n";

    out << "System\n";
    if (!f.system.linuxHidStack) {
        out << "  Windows: " << (f.system.kernel.empty() ? "unknown" : f.system.kernel) << "\n";
        out << "  HID class driver: not checked by this report\n";
    } else {
        if (!f.system.distribution.empty()) {
            out << "  Distribution: " << f.system.distribution << "\n";
        }
        out << "  Kernel: " << (f.system.kernel.empty() ? "unknown" : f.system.kernel) << "\n";
        out << "  hidraw: " << (f.system.hidraw ? "present" : "missing") << "\n";
        out << "  udev: " << (f.system.udev ? "running" : "not running") << "\n";
        out << "  udev rule " << kUdevRuleName << ": ";
        if (f.system.rules.empty()) {
            out << "not installed\n";
        } else {
            for (std::size_t i = 0; i < f.system.rules.size(); ++i) {
                out << (i == 0 ? "installed as " : ", ") << f.system.rules[i];
            }
            out << "\n";
        }
    }
    out << "  Unit node: ";
    if (!f.unitNode) {
        out << "no device of " << kUnitManufacturer << " listed\n";
    } else if (f.program.demo) {
        // The virtual unit has no node in the file system, so no permission applies to it.
        out << f.unitNode->path << ", the demo's virtual unit (no device node)\n";
    } else if (f.unitNode->accessError == 0) {
        out << f.unitNode->path << ", this user may open it\n";
    } else {
        out << f.unitNode->path << ", this user may not open it ("
            << std::strerror(f.unitNode->accessError) << ")\n";
    }
    out << "\n";

    out << "Devices: " << f.devices.size() << "\n";
    for (std::size_t i = 0; i < f.devices.size(); ++i) {
        deviceRow(out, i, f.devices[i]);
    }
    out << "\n";

    out << "Link\n";
    if (!f.link) {
        out << "  not running\n";
        return out.str();
    }
    linkLines(out, *f.link);
    if (f.units.size() > 1) {
        out << "\nUnits: " << f.units.size() << "\n";
        for (const UnitFacts& u : f.units) {
            out << "Unit " << (u.serial.empty() ? std::string("(no serial)") : u.serial);
            if (!u.label.empty()) {
                out << " \"" << u.label << "\"";
            }
            out << ": " << u.state << "\n";
            linkLines(out, u.link);
        }
    }
    return out.str();
}

ProgramFacts programFacts() {
    ProgramFacts p;
    p.version = QX_PROGRAM_VERSION;
#if defined(__clang__)
    p.build = "clang " __clang_version__;
#elif defined(__GNUC__)
    p.build = "g++ " __VERSION__;
#endif
    p.build += std::string(", ") + QX_BUILD_TYPE + " build";
    return p;
}

std::string reportTime(std::time_t moment) {
    const levels::LocalTime local = levels::localTimeOf(moment);
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local.fields) == 0) {
        return {};
    }
    // Offsets stay within a day; the clamp only keeps the text within its four digits.
    const long offset = std::min(std::labs(local.offsetSeconds), 99L * 3600);
    char zone[32];
    std::snprintf(zone, sizeof zone, " %c%02d%02d", local.offsetSeconds < 0 ? '-' : '+',
                  static_cast<int>(offset / 3600), static_cast<int>(offset % 3600 / 60));
    return std::string(text) + zone;
}

std::vector<THIDdeviceInfo> deviceTable(HidPort& port) {
    std::vector<THIDdeviceInfo> rows;
    for (uint8_t i = 0; i < 32; ++i) {
        THIDdeviceInfo info{};
        port.getDeviceInfo(i, &info);
        if (info.path.length != 0) {
            rows.push_back(info);
        }
    }
    return rows;
}

std::optional<NodeFacts> unitNodeFacts(const std::vector<THIDdeviceInfo>& devices) {
    for (const THIDdeviceInfo& d : devices) {
        if (isUnit(d)) {
            return nodeFacts(textOf(d.path).c_str());
        }
    }
    return std::nullopt;
}

LinkFacts linkFacts(const LinkState& link) {
    LinkFacts l;
    l.connected = link.connected.load();
    l.bootMode = link.bootMode.load();
    l.writeAcked = link.writeAcked();
    l.pending = link.pending();
    l.counters = link.counters.snapshot();
    return l;
}

DiagnosticsFacts gatherFacts(const UsbLink& usb, const LinkState& link,
                             std::span<const uint8_t> image, const SystemPaths& paths) {
    return gatherFacts(usb.library(), usb.lastError(), link, image, paths);
}

DiagnosticsFacts gatherFacts(const LoadedLibrary* library, const std::string& bindError,
                             const LinkState& link, std::span<const uint8_t> image,
                             const SystemPaths& paths) {
    DiagnosticsFacts f;
    f.madeAt = reportTime(std::time(nullptr));
    f.program = programFacts();
    f.library = libraryFacts(image, library, bindError);
    f.system = systemFacts(paths);
    if (const LoadedLibrary* lib = library) {
        LibraryPort port(lib->entry());
        f.devices = deviceTable(port);
    }
    f.unitNode = unitNodeFacts(f.devices);
    f.link = linkFacts(link);
    return f;
}

} // namespace qx
