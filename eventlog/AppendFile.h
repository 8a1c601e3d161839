// SPDX-License-Identifier: GPL-3.0-or-later
// The one file the event log appends to, by the system's own calls: each line goes out in one
// write at the end of the file (so lines of two programs logging at once never mix), and is
// flushed to the disk on request. Only a regular file is written: a symbolic link, a pipe or a
// device under a daily file's name is refused. linux/ and windows/ hold the two versions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qx::eventlog {

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path` for appending, creating it (owner-only) when missing; false with `error`
    // set when it cannot be opened or is not a regular file. A new file's name is made durable.
    bool open(const std::filesystem::path& path, std::string& error);
    bool isOpen() const;
    void close();

    // Its size when opened, plus what was appended since.
    std::uint64_t size() const { return size_; }
    // Whether it was empty or ended with a newline when opened: a file cut off in the middle of
    // a line (a power cut) does not, and the next line must then start on a line of its own.
    bool endedWithNewline() const { return endedWithNewline_; }

    // `bytes` at the end of the file in one write; false with `error` set when not all of them
    // were written (some may have been).
    bool append(std::string_view bytes, std::string& error);
    // What was appended is on the disk when this returns true.
    bool sync(std::string& error);

private:
    std::intptr_t handle_ = -1;
    std::uint64_t size_ = 0;
    bool endedWithNewline_ = true;
};

// Creates `folder` (and the folders above it that are missing) readable by the owner alone;
// true when it is there, false with `error` set when it cannot be made.
bool makePrivateFolder(const std::filesystem::path& folder, std::string& error);

} // namespace qx::eventlog
