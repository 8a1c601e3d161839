// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/windows/PrivateLibraryFile.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
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

// An open handle on the library file that lets others read the file but not change, replace or
// delete it while it is held: what was checked is what the system loads.
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool isOpen() const { return file_ != INVALID_HANDLE_VALUE; }

    // Whether the file holds exactly `image`.
    bool holds(std::span<const uint8_t> image) const {
        if (file_ == INVALID_HANDLE_VALUE)
            return false;
        LARGE_INTEGER size{};
        bool same =
            GetFileSizeEx(file_, &size) && static_cast<uint64_t>(size.QuadPart) == image.size();
        std::vector<uint8_t> buffer(64 * 1024);
        for (size_t at = 0; same && at < image.size();) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min(buffer.size(), image.size() - at));
            same = ReadFile(file_, buffer.data(), want, &n, nullptr) && n == want &&
                   std::equal(buffer.begin(), buffer.begin() + n, image.begin() + at);
            at += n;
        }
        return same;
    }

private:
    const HANDLE file_;
};

// How often, and how far apart, a file that cannot be opened is looked for again: about half a
// second in all.
constexpr int kOpenAttempts = 25;
constexpr DWORD kOpenRetryMs = 20;

// A name beside `path` that no other loader running now uses: loaders of other processes and
// threads may be writing the same library at the same time.
std::wstring temporaryName(const std::wstring& path) {
    static std::atomic<uint32_t> serial{0};
    return path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetCurrentThreadId()) + L"-" + std::to_wstring(serial++) + L".new";
}

// Written beside, flushed, then renamed over the old file.
bool writeAtomically(const std::wstring& path, std::span<const uint8_t> image, std::string& error) {
    const std::wstring temporary = temporaryName(path);
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
                           std::string& error, unsigned copy) {
    if (folder.empty()) {
        error = "no private folder for the HID library";
        return nullptr;
    }
    if (image.empty()) {
        error = "the HID library image is empty";
        return nullptr;
    }
    wchar_t name[48];
    const auto hash = static_cast<unsigned long long>(contentHash(image));
    if (copy == 0)
        std::swprintf(name, 48, L"\\HID_Lib-%016llx.dll", hash);
    else
        std::swprintf(name, 48, L"\\HID_Lib-%016llx-%u.dll", hash, copy);
    const std::wstring path = folder + name;
    auto held = std::make_unique<HeldFile>(path);
    if (!held->holds(image)) {
        held.reset();
        std::string writeError;
        const bool written = writeAtomically(path, image, writeError);
        // Another loader may have put the same file in place meanwhile, and may hold it open so
        // that it could not be replaced: what counts is what is there now. While another loader
        // is renaming its copy over the file, the file cannot be opened for a moment.
        for (int attempt = 0;; ++attempt) {
            held = std::make_unique<HeldFile>(path);
            if (held->holds(image))
                break;
            if (held->isOpen() || attempt == kOpenAttempts) {
                error = !written ? writeError
                        : held->isOpen()
                            ? std::string("the HID library file changed after it was written")
                            : lastError("cannot open the HID library file");
                return nullptr;
            }
            Sleep(kOpenRetryMs);
        }
    }
    // The library's own imports come from the system folder alone, never from its own folder;
    // the file stays held until the system has loaded it.
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr)
        error = lastError("cannot load the HID library");
    return module;
}

} // namespace qx
