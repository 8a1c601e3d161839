// SPDX-License-Identifier: GPL-3.0-or-later
// QX_77ZT: the control program of the QX-77ZT unit.
#include "app/ProgramMain.h"

#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    qx::ProgramOptions options;
    // "--hidden": the window stays hidden (a start at login). Taken out before Qt sees the rest.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--hidden") == 0) {
            options.hidden = true;
            continue;
        }
        rest.push_back(argv[i]);
    }
    int count = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    return qx::runProgram(count, rest.data(), options);
}
