// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps two programs from driving the unit at once: the window program and a qx77zt that drives
// the unit itself. The first holds a per-user lock file for as long as it runs and writes there
// what it does (a command's name, or kWindowHolder), so that a second one can say who holds the
// unit.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qx::cli {

// What the window program writes into the lock it holds.
inline constexpr std::string_view kWindowHolder = "window";
// What the monitor (qx77zt monitor) writes there.
inline constexpr std::string_view kMonitorHolder = "monitor";

class UnitLock {
public:
    // `dir`: the user's runtime folder (userRuntimeFolder()).
    explicit UnitLock(std::string dir);
    ~UnitLock();
    UnitLock(const UnitLock&) = delete;
    UnitLock& operator=(const UnitLock&) = delete;

    enum class Result { Taken, Busy, Failed };
    // Tries for at most `patience`; `holder` is what this process will do. Call once per object.
    Result take(std::string_view holder, std::chrono::milliseconds patience);
    // What the holder wrote, when take() found the lock busy: printable ASCII only, whatever the
    // file held.
    const std::string& holder() const { return holder_; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::intptr_t handle_ = -1; // the open lock file: a descriptor, or a HANDLE on Windows
    std::string holder_;
    std::string error_;
};

// `bytes` with everything but printable ASCII left out (no escape sequences reach a terminal).
std::string printableText(std::string_view bytes);

// What qx77zt says when the lock was busy, from the holder's text.
std::string unitBusyText(const std::string& holder);

} // namespace qx::cli
