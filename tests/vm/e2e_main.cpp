// SPDX-License-Identifier: GPL-3.0-or-later
// End to end on a real kernel: the program's link, through its real binding path and the real HID
// library module, against USB HID gadgets. Runs as root inside the test machine
// (tools/vm/e2e.sh):
//
//   vm_link_e2e unit --gadget tools/vm/gadget.sh --unit-program qx_gadget_unit --memory-dir DIR
//       the unit's gadget is up; the program starts the gadget unit behind /dev/hidg0 itself
//   vm_link_e2e foreign KIND [--hidg /dev/hidg0]
//       a gadget of another maker with the descriptor KIND is up
//   vm_link_e2e descriptor KIND
//       prints the descriptor KIND as gadget.sh takes it
//
// Exits 0 when every check passed, 1 otherwise, 2 on a usage error.
#include "tests/vm/HidRoundTrip.h"
#include "tests/vm/Scenarios.h"

#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <string>

namespace {

using namespace qx::vm;

int usage() {
    std::fprintf(stderr, "usage: vm_link_e2e unit --gadget PATH --unit-program PATH "
                         "--memory-dir DIR\n"
                         "       vm_link_e2e foreign KIND [--hidg NODE]\n"
                         "       vm_link_e2e descriptor KIND\n");
    return 2;
}

bool parseOptions(int argc, char** argv, int first, std::map<std::string, std::string>& options) {
    for (int i = first; i < argc; i += 2) {
        const auto it = options.find(argv[i]);
        if (i + 1 >= argc || it == options.end()) {
            return false;
        }
        it->second = argv[i + 1];
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";

    if (mode == "descriptor" && argc == 3) {
        const ForeignGadget* gadget = findForeignGadget(argv[2]);
        if (gadget == nullptr) {
            return usage();
        }
        std::string text = hex(gadget->descriptor);
        for (char& c : text) {
            c = c == ' ' ? ':' : c;
        }
        std::printf("%s\n", text.c_str());
        return 0;
    }

    if (mode == "unit") {
        std::map<std::string, std::string> options{
            {"--gadget", ""}, {"--unit-program", ""}, {"--memory-dir", ""}};
        if (!parseOptions(argc, argv, 2, options) || options["--gadget"].empty() ||
            options["--unit-program"].empty() || options["--memory-dir"].empty()) {
            return usage();
        }
        Checks checks("vm e2e unit");
        runUnitScenario(checks,
                        {options["--gadget"], options["--unit-program"], options["--memory-dir"]});
        checks.summary();
        return checks.allPassed() ? 0 : 1;
    }

    if (mode == "foreign" && argc >= 3) {
        const ForeignGadget* gadget = findForeignGadget(argv[2]);
        std::map<std::string, std::string> options{{"--hidg", "/dev/hidg0"}};
        if (gadget == nullptr || !parseOptions(argc, argv, 3, options)) {
            return usage();
        }
        Checks checks(std::string("vm e2e foreign ") + gadget->kind);
        runForeignScenario(checks, *gadget, options["--hidg"]);
        checks.summary();
        return checks.allPassed() ? 0 : 1;
    }
    return usage();
}
