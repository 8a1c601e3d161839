// SPDX-License-Identifier: GPL-3.0-or-later
// The program from start to end: one copy per user, the two windows, the link brought up when
// the main window is first activated, and an orderly stop.
#pragma once

namespace qx {

// The names a copy answers to for later copies, from the main window's class and caption. The
// demo has a name of its own, so that it runs beside the real program and the real program never
// hands over to it.
inline constexpr const char* kProgramInstanceKey = "Tfmain-QX-77ZT";
inline constexpr const char* kDemoInstanceKey = "Tfmain-QX-77ZT-demo";

struct ProgramOptions {
    // The demo carries the virtual HID library and shows the virtual unit's control window.
    bool demo = false;
    // The demo's virtual units plugged in at start (1 to 15).
    int demoUnits = 1;
    // "--hidden": starts with the window hidden and the link up, where a tray can bring the
    // window back (at login); shown anyway where there is none.
    bool hidden = false;
};

int runProgram(int argc, char** argv, const ProgramOptions& options);

} // namespace qx
