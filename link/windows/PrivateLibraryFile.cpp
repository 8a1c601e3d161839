#include "link/windows/PrivateLibraryFile.h"

#include <shlobj.h>

#include <cstdio>
#include <vector>

namespace qx {

namespace {

// FNV-1a of the image: a different image gets a file of its own, so a program never loads the
// library another version of it left behind.
uint64_t contentHash(std::span<const uint8_t> bytes) {
    uint64_t h = 1469598103934665603ull;
    for (const uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

std::string lastError(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

bool sameContents(const std::wstring& path, std::span<const uint8_t> image) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    bool same = GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) == image.size();
    std::vector<uint8_t> buffer(64 * 1024);
    for (size_t at = 0; same && at < image.size();) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(buffer.size(), image.size() - at));
        same = ReadFile(file, buffer.data(), want, &n, nullptr) && n == want &&
               std::equal(buffer.begin(), buffer.begin() + n, image.begin() + at);
        at += n;
    }
    CloseHandle(file);
    return same;
}

// Written beside, flushed, then renamed over the old file.
bool writeAtomically(const std::wstring& path, std::span<const uint8_t> image, std::string& error) {
    const std::wstring temporary = path + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = lastError("cannot create the HID library file");
        return false;
    }
    bool ok = true;
    for (size_t at = 0; ok && at < image.size();) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(image.size() - at, 1u << 20));
        ok = WriteFile(file, image.data() + at, chunk, &n, nullptr) && n == chunk;
        at += n;
    }
    ok = ok && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok)
        ok = MoveFileExW(temporary.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        error = lastError("cannot write the HID library file");
        DeleteFileW(temporary.c_str());
    }
    return ok;
}

} // namespace

std::wstring privateLibraryFolder() {
    PWSTR base = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &base)))
        return {};
    std::wstring folder = base;
    CoTaskMemFree(base);
    for (const wchar_t* part : {L"\\qx77zt", L"\\lib"}) {
        folder += part;
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return folder;
}

HMODULE loadPrivateLibrary(const std::wstring& folder, std::span<const uint8_t> image,
                           std::string& error) {
    if (folder.empty()) {
        error = "no private folder for the HID library";
        return nullptr;
    }
    if (image.empty()) {
        error = "the HID library image is empty";
        return nullptr;
    }
    wchar_t name[40];
    std::swprintf(name, 40, L"\\HID_Lib-%016llx.dll",
                  static_cast<unsigned long long>(contentHash(image)));
    const std::wstring path = folder + name;
    if (!sameContents(path, image) && !writeAtomically(path, image, error))
        return nullptr;
    // The library's own imports come from the system folder only.
    HMODULE module = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR);
    if (module == nullptr)
        error = lastError("cannot load the HID library");
    return module;
}

} // namespace qx
