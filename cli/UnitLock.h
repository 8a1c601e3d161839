// Keeps two qx77zt processes that drive the unit themselves from doing so at once: the first
// holds a per-user lock file for as long as it runs and writes its command there, so that a
// second one can say what it waits for.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qx::cli {

class UnitLock {
public:
    // `dir`: the user's runtime folder (or the temporary folder when there is none).
    explicit UnitLock(std::string dir);
    ~UnitLock();
    UnitLock(const UnitLock&) = delete;
    UnitLock& operator=(const UnitLock&) = delete;

    enum class Result { Taken, Busy, Failed };
    // Tries for at most `patience`; `command` is what this process will do.
    Result take(const std::string& command, std::chrono::milliseconds patience);
    // What the holder wrote when take() found the lock busy.
    const std::string& holder() const { return holder_; }
    const std::string& error() const { return error_; }

    // $XDG_RUNTIME_DIR, else the temporary folder (on Windows the user's own temporary folder).
    static std::string defaultDir();

private:
    std::string path_;
    std::intptr_t handle_ = -1; // the open lock file: a descriptor, or a HANDLE on Windows
    std::string holder_;
    std::string error_;
};

} // namespace qx::cli
