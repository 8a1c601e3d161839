// SPDX-License-Identifier: GPL-3.0-or-later
// qx77zt on Windows: the same commands, driving the unit through a link of its own. There is no
// window program to hand a command to, and no Qt: the carried library is a resource of the
// executable and is loaded from the user's own folder.
#include "cli/CliMain.h"
#include "cli/windows/Console.h"
#include "link/EmbeddedImage.h"
#include "state/StateFiles.h"
#include "state/UnitLabels.h"
#include "state/UpdateJournal.h"

#include <windows.h>

int main() {
    const std::stop_token stop = qx::cli::stopOnConsoleControl();
    SetConsoleOutputCP(CP_UTF8);

    qx::cli::CliEnvironment env;
    env.image = &qx::embeddedHidImage;
    if (const auto folder = qx::state::stateFolderFromEnvironment(); !folder.empty()) {
        env.journalFile = folder / qx::state::kJournalFileName;
        env.labelsFile = folder / qx::state::kLabelsFileName;
        env.eventsFolder = folder / "events";
    }
    if (const auto demo = qx::state::stateFolderFromEnvironment("qx77zt-demo"); !demo.empty()) {
        env.demoEventsFolder = demo / "events";
    }
    qx::cli::ConsoleOutput out;
    return qx::cli::runCli(qx::cli::utf8Arguments(), env, out, stop);
}
