// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostics report: the facts someone needs when the unit does not show up or behaves
// oddly, as plain text a person can read and paste into a bug report.
//
// Gathering (which looks at the system, the library and the link) is apart from formatting
// (a pure function of plain records), so that the window and the command line print the same
// text and tests can check both halves on their own.
#pragma once

#include "hidlib/HID_Lib.h"
#include "link/HidPort.h"
#include "link/LibraryBinding.h"
#include "link/LinkCounters.h"
#include "link/LinkState.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx {

class UsbLink;

struct ProgramFacts {
    std::string version;
    std::string build;     // compiler and build type
    std::string qtVersion; // the Qt it runs on; empty for a program without Qt
    // The demo program: its unit is virtual, and there is no device node to open.
    bool demo = false;
};

struct LibraryFacts {
    std::size_t imageSize = 0; // 0 when the program carries no image
    std::string buildId;       // empty when the image has none
    bool loaded = false;       // every entry point resolved
    std::string error;         // why loading failed; empty when it did not
    // Where the loader mapped the module, so that addresses in a trace can be turned into
    // offsets into the module built with this build id.
    std::string mappedAs;
    uintptr_t baseAddress = 0;
};

struct SystemFacts {
    // False on Windows: `kernel` is then the system's version, and hidraw and udev do not apply.
    bool linuxHidStack = true;
    std::string kernel;             // release, as uname gives it
    std::string distribution;       // the system's own name and version (os-release); may be empty
    bool hidraw = false;            // the kernel has the hidraw class
    bool udev = false;              // a udev daemon runs
    std::vector<std::string> rules; // the unit's udev rule, wherever it is installed
};

struct NodeFacts {
    std::string path;
    int accessError = 0; // errno of access(path, R_OK | W_OK); 0 when this user may open it
                         // (Windows: of opening it for reading and writing, as an errno)
};

struct LinkFacts {
    bool connected = false;
    bool bootMode = false;
    bool writeAcked = false;
    bool pending = false;
    LinkCountersSnapshot counters;
};

// One of several units, with its own link's counters.
struct UnitFacts {
    std::string serial;
    std::string label; // empty when none
    std::string state; // one word
    LinkFacts link;
};

struct DiagnosticsFacts {
    // When the facts were gathered, local time with its offset from UTC; empty when unknown.
    std::string madeAt;
    ProgramFacts program;
    LibraryFacts library;
    SystemFacts system;
    std::vector<THIDdeviceInfo> devices; // the library's device table, as last scanned
    std::optional<NodeFacts> unitNode;   // the first row of the unit's maker
    std::optional<LinkFacts> link;       // absent when no link runs (the command line)
    // Every unit the program holds, when it holds more than one; `link` is then the shown one's.
    std::vector<UnitFacts> units;
};

std::string formatReport(const DiagnosticsFacts& facts);

// ---- gathering --------------------------------------------------------------------------------

ProgramFacts programFacts();

// `moment` as the report gives it: "2026-12-11 06:10:42 +0100", local time.
std::string reportTime(std::time_t moment);

// Where the system keeps what the report looks at; tests point these at a folder of their own.
struct SystemPaths {
    std::string osRelease = "/proc/sys/kernel/osrelease";
    std::string distribution = "/etc/os-release";
    std::string hidrawClass = "/sys/class/hidraw";
    std::string udevControl = "/run/udev/control";
    std::vector<std::string> ruleDirs; // empty: the folders udev reads rules from
};
SystemFacts systemFacts(const SystemPaths& paths = {});

// The image's size and build id; `library` (may be null) for whether it loaded and where.
// `bindError` is why binding failed, when it did.
LibraryFacts libraryFacts(std::span<const uint8_t> image, const LoadedLibrary* library,
                          const std::string& bindError);

// Reads the library's table as the last scan left it: no rescan, which would close the unit.
std::vector<THIDdeviceInfo> deviceTable(HidPort& port);

NodeFacts nodeFacts(const std::string& path);
std::optional<NodeFacts> unitNodeFacts(const std::vector<THIDdeviceInfo>& devices);

LinkFacts linkFacts(const LinkState& link);

// All of it, for a program whose link is `usb` over `link`, carrying `image`.
DiagnosticsFacts gatherFacts(const UsbLink& usb, const LinkState& link,
                             std::span<const uint8_t> image, const SystemPaths& paths = {});
// The same where the device table comes from `library` (a copy that opens nothing; may be null,
// with `bindError` saying why).
DiagnosticsFacts gatherFacts(const LoadedLibrary* library, const std::string& bindError,
                             const LinkState& link, std::span<const uint8_t> image,
                             const SystemPaths& paths = {});

} // namespace qx
