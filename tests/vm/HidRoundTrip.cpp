// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/vm/HidRoundTrip.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qx::vm {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Fd openReadWrite(const std::string& path) {
    return Fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
}

std::string writeReport(const Fd& fd, std::span<const std::uint8_t> report) {
    const ssize_t written = ::write(fd.get(), report.data(), report.size());
    if (written < 0) {
        return std::strerror(errno);
    }
    if (static_cast<std::size_t>(written) != report.size()) {
        return "short write of " + std::to_string(written) + " bytes";
    }
    return {};
}

ReadResult readReport(const Fd& fd, std::chrono::milliseconds timeout) {
    ReadResult result;
    pollfd watched{fd.get(), POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(timeout.count()));
    if (ready < 0) {
        result.errorText = std::string("poll: ") + std::strerror(errno);
        return result;
    }
    if (ready == 0) {
        result.errorText = "nothing within " + std::to_string(timeout.count()) + " ms";
        return result;
    }
    result.pollEvents = watched.revents;
    // Larger than any report of the unit, so that a longer report shows as such.
    Bytes buffer(256);
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0) {
        result.errorText = std::string("read: ") + std::strerror(errno);
        return result;
    }
    buffer.resize(static_cast<std::size_t>(got));
    result.bytes = std::move(buffer);
    return result;
}

std::optional<RawInfo> rawInfo(const Fd& hidraw) {
    hidraw_devinfo info{};
    if (::ioctl(hidraw.get(), HIDIOCGRAWINFO, &info) < 0) {
        return std::nullopt;
    }
    return RawInfo{info.bustype, static_cast<std::uint16_t>(info.vendor),
                   static_cast<std::uint16_t>(info.product)};
}

std::optional<Bytes> reportDescriptor(const Fd& hidraw) {
    int size = 0;
    if (::ioctl(hidraw.get(), HIDIOCGRDESCSIZE, &size) < 0 || size < 0 ||
        size > HID_MAX_DESCRIPTOR_SIZE) {
        return std::nullopt;
    }
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<std::uint32_t>(size);
    if (::ioctl(hidraw.get(), HIDIOCGRDESC, &descriptor) < 0) {
        return std::nullopt;
    }
    return Bytes(descriptor.value, descriptor.value + size);
}

Bytes patternReport(std::uint8_t reportId, std::uint8_t first, std::size_t length) {
    Bytes report(length);
    if (length == 0) {
        return report;
    }
    report[0] = reportId;
    for (std::size_t i = 1; i < length; ++i) {
        report[i] = static_cast<std::uint8_t>(first + i - 1);
    }
    return report;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x ", b);
        text += digits;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

} // namespace qx::vm
