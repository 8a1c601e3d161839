// SPDX-License-Identifier: GPL-3.0-or-later
// QX_77ZT: the control program of the QX-77ZT unit.
#include "app/ProgramMain.h"

int main(int argc, char** argv) {
    return qx::runProgram(argc, argv, {});
}
