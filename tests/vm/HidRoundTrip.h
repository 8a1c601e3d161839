// SPDX-License-Identifier: GPL-3.0-or-later
// Small blocking helpers around device nodes for the round-trip proof: every read waits at most a
// given time, so that a report that never comes fails the check instead of hanging the machine.
#ifndef QX_TESTS_VM_HIDROUNDTRIP_H
#define QX_TESTS_VM_HIDROUNDTRIP_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx::vm {

using Bytes = std::vector<std::uint8_t>;

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept;
    ~Fd();
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

Fd openReadWrite(const std::string& path);

// One write() of the whole buffer; the error text on failure ("" when it all went out).
std::string writeReport(const Fd& fd, std::span<const std::uint8_t> report);

// What one read() gave after waiting at most `timeout`; errorText says why there was none.
struct ReadResult {
    std::optional<Bytes> bytes;
    std::string errorText;
    short pollEvents = 0;
};
ReadResult readReport(const Fd& fd, std::chrono::milliseconds timeout);

// HIDIOCGRAWINFO: bus type, vendor and product ids.
struct RawInfo {
    std::uint32_t bus = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};
std::optional<RawInfo> rawInfo(const Fd& hidraw);

// HIDIOCGRDESCSIZE + HIDIOCGRDESC.
std::optional<Bytes> reportDescriptor(const Fd& hidraw);

// A report of `length` bytes: `reportId`, then `first`, first + 1, ... (wrapping).
Bytes patternReport(std::uint8_t reportId, std::uint8_t first, std::size_t length);

std::string hex(std::span<const std::uint8_t> bytes);

} // namespace qx::vm

#endif
