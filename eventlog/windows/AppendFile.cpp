// SPDX-License-Identifier: GPL-3.0-or-later
// Appending to the daily files with Windows calls, by their UTF-16 names.
#include "eventlog/AppendFile.h"

#include "state/Utf8Path.h"

#include <windows.h>

namespace qx::eventlog {

namespace {

std::string systemError(const std::string& what) {
    return what + " (error " + std::to_string(GetLastError()) + ")";
}

HANDLE handleOf(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

} // namespace

AppendFile::~AppendFile() {
    close();
}

bool AppendFile::isOpen() const {
    return handle_ != -1;
}

void AppendFile::close() {
    if (handle_ != -1) {
        CloseHandle(handleOf(handle_));
        handle_ = -1;
    }
}

bool AppendFile::open(const std::filesystem::path& path, std::string& error) {
    close();
    // FILE_APPEND_DATA alone: every write goes to the end, as O_APPEND does. A reparse point
    // (a link) is opened as itself and then refused.
    const HANDLE h =
        CreateFileW(path.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = systemError("cannot open " + utf8Text(path));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        CloseHandle(h);
        error = utf8Text(path) + " is not a regular file, not written";
        return false;
    }
    size_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    endedWithNewline_ = true;
    if (size_ > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>((size_ - 1) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>((size_ - 1) >> 32);
        char last = 0;
        DWORD got = 0;
        if (!ReadFile(h, &last, 1, &got, &at) || got != 1 || last != '\n') {
            endedWithNewline_ = false;
        }
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

bool AppendFile::append(std::string_view bytes, std::string& error) {
    if (handle_ == -1) {
        error = "the file is not open";
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(handleOf(handle_), bytes.data(), static_cast<DWORD>(bytes.size()),
                              &written, nullptr);
    size_ += written;
    if (!ok || written != bytes.size()) {
        error = systemError("cannot write the event log");
        return false;
    }
    return true;
}

bool AppendFile::sync(std::string& error) {
    if (handle_ != -1 && !FlushFileBuffers(handleOf(handle_))) {
        error = systemError("cannot flush the event log");
        return false;
    }
    return true;
}

bool makePrivateFolder(const std::filesystem::path& folder, std::string& error) {
    // Under %LOCALAPPDATA%, which only its user may read.
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + utf8Text(folder) + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace qx::eventlog
