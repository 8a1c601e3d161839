// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a file the operator picked in a file dialog, refusing anything that is not a regular
// file. A named pipe blocks on open until a writer comes, a terminal or another device may block
// on read, and none of them holds a package or a settings file: each is refused with a reason the
// operator can read, before any byte is read or written.
#pragma once

#include <string>

namespace qx {

class RegularFile {
public:
    // Opens `path` with `flags` (O_RDONLY, or O_WRONLY | O_CREAT | O_TRUNC and the like) only when
    // it names a regular file, or names nothing yet and `flags` create it. Never blocks on the
    // kind of file found; the descriptor returned blocks as usual and closes on exec.
    static RegularFile open(const std::string& path, int flags, unsigned mode = 0666);

    RegularFile() = default;
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Hands the descriptor over to the caller, who closes it from now on.
    int release();
    // Why it was refused: the system's reason, or what kind of file it is. Empty when ok().
    const std::string& error() const { return error_; }
    // errno of the failure; 0 when ok(), ENOTSUP when refused for its kind (EISDIR for a folder).
    int errorNumber() const { return errno_; }

private:
    void reset();

    int fd_ = -1;
    int errno_ = 0;
    std::string error_;
};

} // namespace qx
