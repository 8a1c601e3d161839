// SPDX-License-Identifier: GPL-3.0-or-later
// What the report can read of a Windows system: the system's version, whether this user may
// open the unit's interface, and the library's file as the loader mapped it. The HID class
// driver's state and the library's build id (a PE image carries none the build writes) are not
// read; the report says so.
#include "diag/DiagnosticsReport.h"

#include "state/Utf8Path.h"

#include <cerrno>
#include <string>

#include <windows.h>

namespace qx {

namespace {

// RtlGetVersion tells the true version; GetVersionEx answers what the program's manifest
// declares it knows of.
std::string windowsVersion() {
    using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll != nullptr ? reinterpret_cast<RtlGetVersion>(reinterpret_cast<void*>(
                                            GetProcAddress(ntdll, "RtlGetVersion")))
                                      : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (get == nullptr || get(&info) != 0) {
        return {};
    }
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
           " build " + std::to_string(info.dwBuildNumber);
}

int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    default:
        return EIO;
    }
}

} // namespace

SystemFacts systemFacts(const SystemPaths& /*paths: Linux folders*/) {
    SystemFacts s;
    s.linuxHidStack = false;
    s.kernel = windowsVersion();
    return s;
}

LibraryFacts libraryFacts(std::span<const uint8_t> image, const LoadedLibrary* library,
                          const std::string& bindError) {
    LibraryFacts l;
    l.imageSize = image.size();
    l.buildId = "not read on Windows";
    l.loaded = library != nullptr;
    l.error = l.loaded ? std::string() : bindError;
    HMODULE module = nullptr;
    if (library != nullptr &&
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(library->entry().scanForDevices), &module) != 0) {
        wchar_t name[MAX_PATH + 1] = {};
        const DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            l.mappedAs = utf8Text(std::filesystem::path(name));
        }
        l.baseAddress = reinterpret_cast<uintptr_t>(module);
    }
    return l;
}

NodeFacts nodeFacts(const std::string& path) {
    NodeFacts n;
    n.path = path;
    // The same open as the library's: shared, so a reader elsewhere does not make it fail.
    const HANDLE handle =
        CreateFileW(utf8Path(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        n.accessError = errnoOf(GetLastError());
    } else {
        CloseHandle(handle);
    }
    return n;
}

} // namespace qx
