// The diagnostics report describes the Linux HID stack (the library's build id, hidraw, udev);
// the Windows build has no report of its own yet.
#include "cli/CliMain.h"

namespace qx::cli {

int runDiag(const CliEnvironment&, CliOutput& out) {
    out.fail("the diagnostics report is not available on Windows");
    return kExitUnitFailed;
}

} // namespace qx::cli
