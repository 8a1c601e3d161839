// SPDX-License-Identifier: GPL-3.0-or-later
// Where a command's output goes: standard output and error of this process, or the peer of the
// window program's socket.
#pragma once

#include <string>
#include <string_view>

namespace qx::cli {

class CliOutput {
public:
    virtual ~CliOutput() = default;
    // `text` as it is, to standard error when `error`, else to standard output.
    virtual void write(bool error, std::string_view text) = 0;
    // Standard output is a terminal (progress is then drawn as a bar).
    virtual bool terminal() const { return false; }

    void line(std::string_view text) { write(false, std::string(text) + "\n"); }
    // The one line an error gets.
    void fail(std::string_view text) { write(true, "qx77zt: " + std::string(text) + "\n"); }
};

} // namespace qx::cli
