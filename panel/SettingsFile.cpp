#include "panel/SettingsFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace qx::panel {

namespace {

std::string systemError(int err) {
    return std::strerror(err);
}

// Closes the descriptor on every path out.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

std::size_t applySettingsBytes(std::span<const uint8_t> file, DeviceSettings& s) {
    const std::size_t n = std::min(file.size(), kSettingsSize);
    std::copy_n(file.begin(), n, rawBytes(s).begin());
    return n;
}

FileResult writeSettingsFile(const std::string& path, const DeviceSettings& s) {
    Fd f{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
    if (f.fd < 0) {
        return {false, systemError(errno)};
    }
    const auto bytes = rawBytes(s);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(f.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A short write (a full disk) must not look like a saved file.
            return {false, systemError(n < 0 ? errno : ENOSPC)};
        }
        done += static_cast<std::size_t>(n);
    }
    const int fd = f.fd;
    f.fd = -1;
    if (::close(fd) != 0) {
        return {false, systemError(errno)};
    }
    return {true, {}};
}

FileBytes readSettingsFile(const std::string& path) {
    FileBytes out;
    Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0) {
        out.error = systemError(errno);
        return out;
    }
    out.bytes.resize(kSettingsSize);
    std::size_t done = 0;
    while (done < kSettingsSize) {
        const ssize_t n = ::read(f.fd, out.bytes.data() + done, kSettingsSize - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            // A directory opens but cannot be read.
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
