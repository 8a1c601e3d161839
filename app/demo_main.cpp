// SPDX-License-Identifier: GPL-3.0-or-later
// QX_77ZT_demo: the control program over a virtual unit, for a first look without hardware.
#include "app/ProgramMain.h"

int main(int argc, char** argv) {
    qx::ProgramOptions options;
    options.demo = true;
    return qx::runProgram(argc, argv, options);
}
