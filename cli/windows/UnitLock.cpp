// SPDX-License-Identifier: GPL-3.0-or-later
// The lock on Windows: a byte range of the lock file held with LockFileEx. Windows locks keep
// other processes from reading the range they cover, so the range lies far past the command
// text, which a second process then still reads.
#include "cli/UnitLock.h"

#include "state/Utf8Path.h"

#include <windows.h>

#include <thread>

namespace qx::cli {

namespace {

constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::string lastError() {
    return "error " + std::to_string(GetLastError());
}

HANDLE heldHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

// The temporary folder on Windows is the user's own, so the name needs no user id.
UnitLock::UnitLock(std::string dir) : path_(std::move(dir) + "\\qx77zt-unit.lock") {}

UnitLock::~UnitLock() {
    if (heldHandle(handle_) != INVALID_HANDLE_VALUE) {
        CloseHandle(heldHandle(handle_)); // releases the lock
    }
}

UnitLock::Result UnitLock::take(std::string_view holder, std::chrono::milliseconds patience) {
    // FILE_FLAG_OPEN_REPARSE_POINT: a link planted in the folder is opened as itself, never
    // followed to another file.
    const HANDLE file = CreateFileW(utf8Path(path_).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error_ = "cannot open " + path_ + ": " + lastError();
        return Result::Failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            break;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            error_ = "cannot lock " + path_ + ": " + lastError();
            return Result::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            char text[64] = {};
            OVERLAPPED start{};
            DWORD n = 0;
            if (!ReadFile(file, text, sizeof text - 1, &n, &start)) {
                n = 0;
            }
            holder_ = printableText({text, n});
            return Result::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    OVERLAPPED start{};
    DWORD n = 0;
    LARGE_INTEGER zero{};
    if (SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file)) {
        WriteFile(file, holder.data(), static_cast<DWORD>(holder.size()), &n, &start);
    }
    return Result::Taken;
}

} // namespace qx::cli
