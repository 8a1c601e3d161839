// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/SettingsFile.h"

#include "update/RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace qx::panel {

namespace {

std::string systemError(int err) {
    return std::strerror(err);
}

struct FieldRange {
    const char* name;
    int low;
    int high;
    bool isSigned;
};

// Per byte of the record: the values the window shows as they are. Muting and dimming show a
// third state; the display folds gains beyond -32..32 and brightness beyond 3, and shows no
// preset or source beyond its list.
constexpr FieldRange kRanges[kSettingsSize] = {
    {"preset", 0, 3, false},
    {"preset 1 left source", 0, 17, false},
    {"preset 1 right source", 0, 17, false},
    {"preset 2 left source", 0, 17, false},
    {"preset 2 right source", 0, 17, false},
    {"preset 3 left source", 0, 17, false},
    {"preset 3 right source", 0, 17, false},
    {"preset 4 left source", 0, 17, false},
    {"preset 4 right source", 0, 17, false},
    {"mute", 0, 2, false},
    {"dim", 0, 2, false},
    {"sum/difference", 0, 2, false},
    {"left gain", -32, 32, true},
    {"right gain", -32, 32, true},
    {"ballistics", 0, 1, false},
    {"peak hold", 0, 2, false},
    {"brightness", 0, 3, false},
    {"scale", 0, 1, false},
};

} // namespace

std::optional<std::string> settingsProblem(std::span<const uint8_t> bytes) {
    // A longer file is read only one byte past the record, so its length is not known here.
    const std::string exactly = ", a settings file exactly " + std::to_string(kSettingsSize);
    if (bytes.size() > kSettingsSize) {
        return "it holds more than " + std::to_string(kSettingsSize) + " bytes" + exactly;
    }
    if (bytes.size() < kSettingsSize) {
        return "it holds only " + std::to_string(bytes.size()) + " byte" +
               (bytes.size() == 1 ? "" : "s") + exactly;
    }
    for (std::size_t i = 0; i < kSettingsSize; ++i) {
        const FieldRange& r = kRanges[i];
        const int v = r.isSigned ? static_cast<int>(static_cast<int8_t>(bytes[i])) : bytes[i];
        if (v < r.low || v > r.high) {
            return "its " + std::string(r.name) + " (byte " + std::to_string(i) + ") is " +
                   std::to_string(v) + ", outside " + std::to_string(r.low) + " to " +
                   std::to_string(r.high);
        }
    }
    return std::nullopt;
}

ParsedSettings parseSettingsFile(std::span<const uint8_t> bytes) {
    if (auto problem = settingsProblem(bytes)) {
        return {std::nullopt, std::move(*problem)};
    }
    DeviceSettings s;
    std::memcpy(&s, bytes.data(), kSettingsSize);
    return {s, {}};
}

FileResult writeSettingsFile(const std::string& path, const DeviceSettings& s) {
    RegularFile f = RegularFile::open(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (!f.ok()) {
        return {false, f.error()};
    }
    const auto bytes = rawBytes(s);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(f.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A short write (a full disk) must not look like a saved file.
            return {false, systemError(n < 0 ? errno : ENOSPC)};
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(f.release()) != 0) {
        return {false, systemError(errno)};
    }
    return {true, {}};
}

FileBytes readSettingsFile(const std::string& path) {
    FileBytes out;
    const RegularFile f = RegularFile::open(path, O_RDONLY);
    if (!f.ok()) {
        out.error = f.error();
        return out;
    }
    constexpr std::size_t kEnough = kSettingsSize + 1;
    out.bytes.resize(kEnough);
    std::size_t done = 0;
    while (done < kEnough) {
        const ssize_t n = ::read(f.fd(), out.bytes.data() + done, kEnough - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            out.bytes.clear();
            out.error = systemError(errno);
            return out;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    out.bytes.resize(done);
    out.ok = true;
    return out;
}

} // namespace qx::panel
