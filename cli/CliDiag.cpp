// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CliMain.h"

#include "diag/DiagnosticsReport.h"

#include <ctime>

namespace qx::cli {

int runDiag(const CliEnvironment& env, CliOutput& out) {
    const std::vector<uint8_t> image =
        (env.image ? env.image() : std::nullopt).value_or(std::vector<uint8_t>{});
    std::string error = "the HID library image is missing";
    std::unique_ptr<LoadedLibrary> library =
        image.empty() ? nullptr : LoadedLibrary::load(image, error);
    DiagnosticsFacts facts;
    facts.madeAt = reportTime(std::time(nullptr));
    facts.program = programFacts();
    facts.library = libraryFacts(image, library.get(), error);
    facts.system = systemFacts();
    if (library) {
        if (env.libraryLoaded) {
            env.libraryLoaded(*library);
        }
        LibraryPort port(library->entry());
        port.scanForDevices();
        facts.devices = deviceTable(port);
        if (env.libraryFinished) {
            env.libraryFinished(*library);
        }
    }
    facts.unitNode = unitNodeFacts(facts.devices);
    out.write(false, formatReport(facts));
    return library ? kExitDone : kExitUnitFailed;
}

} // namespace qx::cli
