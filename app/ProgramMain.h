// The program from start to end: one copy per user, the two windows, the link brought up when
// the main window is first activated, and an orderly stop.
#pragma once

namespace qx {

struct ProgramOptions {
    // The demo carries the virtual HID library and shows the virtual unit's control window.
    bool demo = false;
};

int runProgram(int argc, char** argv, const ProgramOptions& options);

} // namespace qx
