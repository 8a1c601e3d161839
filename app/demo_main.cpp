// SPDX-License-Identifier: GPL-3.0-or-later
// QX_77ZT_demo: the control program over a virtual unit, for a first look without hardware.
#include "app/ProgramMain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    qx::ProgramOptions options;
    options.demo = true;
    // "--units N": several virtual units from the start; "--hidden": the window stays hidden (a
    // start at login). Taken out before Qt sees the rest.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--hidden") == 0) {
            options.hidden = true;
            continue;
        }
        if (std::strcmp(argv[i], "--units") == 0) {
            char* end = nullptr;
            const long n = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
            if (end == nullptr || *end != '\0' || n < 1 || n > 15) {
                std::fprintf(stderr, "QX_77ZT_demo: --units takes a number from 1 to 15\n");
                return 2;
            }
            options.demoUnits = static_cast<int>(n);
            ++i;
            continue;
        }
        rest.push_back(argv[i]);
    }
    int count = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    return qx::runProgram(count, rest.data(), options);
}
