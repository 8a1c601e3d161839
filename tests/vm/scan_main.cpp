// SPDX-License-Identifier: GPL-3.0-or-later
// The HID library's scan on a real kernel, inside the test machine (tools/vm/scan.sh):
//
//   vm_scan check MODULE
//       the table HIDscanForDevices gives equals, field for field, the one a scan that opens
//       every node gives (ReferenceScan); prints the table
//   vm_scan bench [--calls N] MODULE...
//       time per HIDscanForDevices call of each module and, when built with it, per
//       hid_enumerate call of the system's hidapi, in the same run, with their ratio
//   vm_scan count-opens SECONDS
//       prints how often a hidraw node in /dev was opened in the next SECONDS
//
// Exits 0 when every check passed, 1 otherwise, 2 on a usage error.
#include "hidlib/HID_Lib.h"
#include "hidlib/core/DeviceTable.h"
#include "tests/vm/Checks.h"
#include "tests/vm/ReferenceScan.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

#ifdef QX_HAVE_HIDAPI
#include <hidapi/hidapi.h>
#endif

namespace {

using ScanFn = uint8_t(HID_LIB_CALL*)();
using InfoFn = void(HID_LIB_CALL*)(uint8_t, THIDdeviceInfo*);

struct Module {
    std::string path;
    ScanFn scan = nullptr;
    InfoFn info = nullptr;
};

bool loadModule(const std::string& path, Module& module) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "vm_scan: %s\n", ::dlerror());
        return false;
    }
    module.path = path;
    module.scan = reinterpret_cast<ScanFn>(::dlsym(handle, "HIDscanForDevices"));
    module.info = reinterpret_cast<InfoFn>(::dlsym(handle, "HIDGetDeviceInfo"));
    return module.scan != nullptr && module.info != nullptr;
}

std::string text(const THIDstring& s) {
    return std::string(hid::stringView(s));
}

std::string describe(const THIDdeviceInfo& d) {
    char line[1024];
    std::snprintf(line, sizeof line,
                  "%s %04x:%04x rel %04x rw %d \"%s\" \"%s\" \"%s\" lengths in %u out %u "
                  "feature %u",
                  text(d.path).c_str(), d.vendorId, d.productId, d.releaseNumber, d.readWrite,
                  text(d.manufacturer).c_str(), text(d.product).c_str(), text(d.serial).c_str(),
                  d.inputReportLength, d.outputReportLength, d.featureReportLength);
    return line;
}

std::vector<THIDdeviceInfo> referenceTable() {
    std::vector<THIDdeviceInfo> table;
    for (const hid::DeviceRecord& record : qx::vm::referenceScan()) {
        if (table.size() == hid::kTableSlots)
            break;
        const THIDdeviceInfo slot = hid::makeSlot(record);
        if (hid::isListed(slot))
            table.push_back(slot);
    }
    return table;
}

// hidraw nodes in /dev that were opened since the watch began.
std::vector<std::string> openedNodes(int watch) {
    std::vector<std::string> opened;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const std::string name = event->len > 0 ? event->name : "";
            if (name.rfind("hidraw", 0) == 0)
                opened.push_back(name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return opened;
}

int check(const Module& module) {
    qx::vm::Checks checks("vm scan check");
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    checks.expect(watch >= 0 && ::inotify_add_watch(watch, "/dev", IN_OPEN) >= 0,
                  "watching /dev for opened nodes");
    const uint8_t count = module.scan();
    const std::vector<std::string> opened = openedNodes(watch);
    ::close(watch);
    std::string names;
    for (const std::string& name : opened)
        names += " " + name;
    checks.expect(opened.empty(), "HIDscanForDevices opened no hidraw node", names);
    const std::vector<THIDdeviceInfo> expected = referenceTable();
    checks.expect(count == expected.size(), "as many devices as the opening scan lists",
                  std::to_string(count) + " and " + std::to_string(expected.size()));
    for (uint8_t i = 0; i < count && i < expected.size(); ++i) {
        THIDdeviceInfo got;
        std::memset(&got, 0, sizeof got);
        module.info(i, &got);
        const bool same = std::memcmp(&got, &expected[i], sizeof got) == 0;
        checks.expect(same, "slot " + std::to_string(i) + " " + describe(got),
                      same ? std::string() : "the opening scan gives " + describe(expected[i]));
    }
    checks.summary();
    return checks.allPassed() ? 0 : 1;
}

using Clock = std::chrono::steady_clock;

int bench(const std::vector<Module>& modules, int calls) {
    // Calls alternate between the scans so that both see the same machine.
    std::vector<Clock::duration> spent(modules.size() + 1, Clock::duration::zero());
    std::vector<int> found(modules.size() + 1, 0);
#ifdef QX_HAVE_HIDAPI
    const bool withHidapi = hid_init() == 0;
#else
    const bool withHidapi = false;
#endif
    for (int call = 0; call < calls; ++call) {
        for (size_t m = 0; m < modules.size(); ++m) {
            const auto start = Clock::now();
            found[m] = modules[m].scan();
            spent[m] += Clock::now() - start;
        }
#ifdef QX_HAVE_HIDAPI
        if (withHidapi) {
            const auto start = Clock::now();
            hid_device_info* list = hid_enumerate(0, 0);
            spent.back() += Clock::now() - start;
            int n = 0;
            for (const hid_device_info* d = list; d != nullptr; d = d->next)
                ++n;
            found.back() = n;
            hid_free_enumeration(list);
        }
#endif
    }
    auto perCall = [calls](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() / calls;
    };
    for (size_t m = 0; m < modules.size(); ++m)
        std::printf("scan: HIDscanForDevices %8.3f ms per call, %d devices (%s)\n",
                    perCall(spent[m]), found[m], modules[m].path.c_str());
    if (!withHidapi) {
        std::printf("scan: hidapi hid_enumerate not measured (built without hidapi)\n");
        return 0;
    }
    const double reference = perCall(spent.back());
    std::printf("scan: hidapi hid_enumerate  %8.3f ms per call, %d devices\n", reference,
                found.back());
    for (size_t m = 0; m < modules.size(); ++m)
        std::printf("scan: ratio HIDscanForDevices / hid_enumerate = %.2f (%s)\n",
                    perCall(spent[m]) / reference, modules[m].path.c_str());
    std::printf("scan: %d calls each\n", calls);
    return 0;
}

int countOpens(int seconds) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, "/dev", IN_OPEN) < 0)
        return 1;
    size_t opens = 0;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        opens += openedNodes(watch).size();
        ::usleep(50000);
    }
    opens += openedNodes(watch).size();
    ::close(watch);
    std::printf("%zu\n", opens);
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: vm_scan check MODULE\n"
                         "       vm_scan bench [--calls N] MODULE...\n"
                         "       vm_scan count-opens SECONDS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "count-opens" && argc == 3)
        return countOpens(std::max(1, std::atoi(argv[2])));
    std::vector<Module> modules;
    int calls = 200;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--calls") == 0 && i + 1 < argc) {
            calls = std::max(1, std::atoi(argv[++i]));
            continue;
        }
        Module module;
        if (!loadModule(argv[i], module))
            return 1;
        modules.push_back(module);
    }
    if (mode == "check" && modules.size() == 1)
        return check(modules[0]);
    if (mode == "bench" && !modules.empty())
        return bench(modules, calls);
    return usage();
}
