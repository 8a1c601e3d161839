// SPDX-License-Identifier: GPL-3.0-or-later
// The console side of qx77zt on Windows: its arguments, its output and its ^C.
#pragma once

#include "cli/CliOutput.h"

#include <stop_token>
#include <string>
#include <vector>

namespace qx::cli {

class ConsoleOutput : public CliOutput {
public:
    void write(bool error, std::string_view text) override;
    bool terminal() const override;
};

// The arguments as UTF-8, whatever the console's code page; the program's name left out.
std::vector<std::string> utf8Arguments();

// From now on ^C, ^Break or the console closing asks the command to stop, which a --watch does
// cleanly and a transfer under way only once it is finished; a second one ends the process at
// once.
std::stop_token stopOnConsoleControl();

} // namespace qx::cli
