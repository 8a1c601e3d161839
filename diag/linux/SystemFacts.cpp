// SPDX-License-Identifier: GPL-3.0-or-later
// What the report reads of a Linux system: the kernel, hidraw, udev and its rule, the unit's
// node, and the library as the dynamic loader mapped it.
#include "diag/DiagnosticsReport.h"

#include "link/linux/ElfImage.h"
#include "panel/UnitAccessHint.h"

#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace qx {

namespace {

std::string readFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// PRETTY_NAME of an os-release file, its quotes taken off; empty when there is none.
std::string prettyName(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    constexpr std::string_view kKey = "PRETTY_NAME=";
    while (std::getline(in, line)) {
        if (line.compare(0, kKey.size(), kKey) != 0) {
            continue;
        }
        std::string value = line.substr(kKey.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

} // namespace

SystemFacts systemFacts(const SystemPaths& paths) {
    SystemFacts s;
    s.distribution = prettyName(paths.distribution);
    s.kernel = readFirstLine(paths.osRelease);
    if (s.kernel.empty()) {
        utsname u{};
        if (::uname(&u) == 0) {
            s.kernel = u.release;
        }
    }
    std::error_code ignored;
    s.hidraw = std::filesystem::is_directory(paths.hidrawClass, ignored);
    s.udev = std::filesystem::exists(paths.udevControl, ignored);
    for (const std::string& dir : paths.ruleDirs.empty() ? udevRuleDirs() : paths.ruleDirs) {
        const std::filesystem::path rule = std::filesystem::path(dir) / kUdevRuleName;
        if (std::filesystem::exists(rule, ignored)) {
            s.rules.push_back(rule.string());
        }
    }
    return s;
}

LibraryFacts libraryFacts(std::span<const uint8_t> image, const LoadedLibrary* library,
                          const std::string& bindError) {
    LibraryFacts l;
    l.imageSize = image.size();
    l.buildId = elfBuildId(image);
    l.loaded = library != nullptr;
    l.error = l.loaded ? std::string() : bindError;
    if (library != nullptr) {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<const void*>(library->entry().scanForDevices), &info) != 0) {
            l.mappedAs = info.dli_fname != nullptr ? info.dli_fname : "";
            l.baseAddress = reinterpret_cast<uintptr_t>(info.dli_fbase);
        }
    }
    return l;
}

NodeFacts nodeFacts(const std::string& path) {
    NodeFacts n;
    n.path = path;
    n.accessError = ::access(path.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
    return n;
}

} // namespace qx
