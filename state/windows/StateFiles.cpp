// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and replacing the state files with Windows calls, by their UTF-16 names.
#include "state/StateFiles.h"

#include "state/Utf8Path.h"

#include <windows.h>

#include <cstdlib>

namespace qx::state {

namespace {

std::string systemError(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
    }
};

} // namespace

std::filesystem::path stateFolderFromEnvironment(const char* folder) {
    // The user's own local application data: not roamed, and not readable by other users.
    const wchar_t* base = _wgetenv(L"LOCALAPPDATA");
    if (base == nullptr || *base == L'\0' || !std::filesystem::path(base).is_absolute()) {
        return {};
    }
    return std::filesystem::path(base) / folder;
}

WriteOutcome replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    if (path.empty() || !path.has_filename()) {
        return {false, "no place to keep the file"};
    }
    const std::filesystem::path folder = path.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return {false, "cannot create " + utf8Text(folder) + ": " + ec.message()};
    }
    const std::wstring temp = path.wstring() + L".new";
    bool ok = false;
    {
        Handle file{CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (file.h == INVALID_HANDLE_VALUE) {
            return {false, systemError(("cannot create a file in " + utf8Text(folder)).c_str())};
        }
        ok = true;
        for (std::size_t done = 0; ok && done < bytes.size();) {
            DWORD n = 0;
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            ok = WriteFile(file.h, bytes.data() + done, chunk, &n, nullptr) && n == chunk;
            done += n;
        }
        // On the disk before the name points at it.
        ok = ok && FlushFileBuffers(file.h);
    }
    ok = ok && MoveFileExW(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        WriteOutcome failed{false, systemError("cannot replace the file")};
        DeleteFileW(temp.c_str());
        return failed;
    }
    return {true, {}};
}

ReadOutcome readStateFile(const std::filesystem::path& path, std::size_t maxBytes) {
    ReadOutcome out;
    Handle file{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return out;
        }
        out.status = ReadOutcome::Status::Failed;
        out.error = systemError("cannot open the file");
        return out;
    }
    LARGE_INTEGER size{};
    if (GetFileType(file.h) != FILE_TYPE_DISK || !GetFileSizeEx(file.h, &size)) {
        out.status = ReadOutcome::Status::Failed;
        out.error = "not a regular file";
        return out;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
        out.status = ReadOutcome::Status::TooLarge;
        out.error = "the file is larger than such a file can be";
        return out;
    }
    std::vector<std::uint8_t> bytes(maxBytes + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1u << 20));
        if (!ReadFile(file.h, bytes.data() + got, want, &n, nullptr)) {
            out.status = ReadOutcome::Status::Failed;
            out.error = systemError("cannot read the file");
            return out;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    if (got > maxBytes) { // grew since it was measured
        out.status = ReadOutcome::Status::TooLarge;
        out.error = "the file is larger than such a file can be";
        return out;
    }
    bytes.resize(got);
    out.status = ReadOutcome::Status::Read;
    out.bytes = std::move(bytes);
    return out;
}

MoveResult moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                                std::string& error) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the new name is taken.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return MoveResult::Moved;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
        return MoveResult::TargetExists;
    }
    error = systemError("cannot move the file");
    return MoveResult::Failed;
}

} // namespace qx::state
