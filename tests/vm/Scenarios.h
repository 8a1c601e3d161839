// SPDX-License-Identifier: GPL-3.0-or-later
// The end-to-end scenarios that run inside the test machine against the real HID library module,
// loaded through the program's own binding path.
#pragma once

#include "tests/vm/Checks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qx::vm {

struct UnitOptions {
    std::string gadgetScript; // tools/vm/gadget.sh
    std::string unitProgram;  // qx_gadget_unit
    std::string memoryDir;    // where the gadget unit saves its memories
};

// The unit's gadget is up (gadget.sh up): connection, status, settings write, unplug and plug,
// boot mode, a whole firmware update and leaving the update again.
void runUnitScenario(Checks& checks, const UnitOptions& options);

// A gadget of another maker with one of the descriptors below is up.
struct ForeignGadget {
    const char* kind;
    std::vector<std::uint8_t> descriptor;
    bool numbered;
};
const std::vector<ForeignGadget>& foreignGadgets();
const ForeignGadget* findForeignGadget(const std::string& kind);
void runForeignScenario(Checks& checks, const ForeignGadget& gadget, const std::string& hidg);

} // namespace qx::vm
