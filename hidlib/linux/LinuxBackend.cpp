// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/linux/LinuxBackend.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace hid {

namespace {

// The size field of an ioctl number has 14 bits.
constexpr size_t kMaxIoctlReport = (1u << 14) - 1;

int pollRetrying(pollfd* fds, nfds_t count, int timeoutMs) {
    for (;;) {
        const int n = ::poll(fds, count, timeoutMs);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// Runs one report ioctl whose request number carries the length; a copy keeps `set` calls from
// writing into the caller's buffer.
bool reportIoctl(int fd, unsigned long request, std::span<uint8_t> buffer) {
    for (;;) {
        if (::ioctl(fd, request, buffer.data()) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool setReport(int fd, unsigned long request, std::span<const uint8_t> report) {
    std::vector<uint8_t> copy(report.begin(), report.end());
    return reportIoctl(fd, request, copy);
}

} // namespace

bool sendOutputReport(int fd, std::span<const uint8_t> report,
                      BoundedWriter::Clock::time_point deadline) {
    if (report.size() > kMaxIoctlReport)
        return false;
    if (setReport(fd, HIDIOCSOUTPUT(report.size()), report))
        return true;
    // Kernels before 5.11 know no HIDIOCSOUTPUT; the kernel sends write() the same way.
    if (errno != EINVAL && errno != ENOTTY)
        return false;
    return writeBeforeDeadline(fd, report, deadline);
}

LinuxBackend::LinuxBackend() : LinuxBackend(writeBeforeDeadline, sendOutputReport) {}

LinuxBackend::LinuxBackend(BoundedWriter::WriteOnce write, BoundedWriter::WriteOnce outputReport)
    : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), writer_(std::move(write)),
      outputReport_(std::move(outputReport)) {}

LinuxBackend::~LinuxBackend() {
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

std::vector<DeviceRecord> LinuxBackend::enumerate() {
    return enumerateHidraw();
}

Handle LinuxBackend::open(const std::string& path, bool readWrite) {
    const int flags = (readWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    return ::open(path.c_str(), flags);
}

void LinuxBackend::close(Handle handle) {
    if (handle >= 0)
        ::close(handle);
}

// hidraw wants the report ID first, 0 for a device without numbered reports, and drops that 0
// itself.
bool LinuxBackend::write(Handle handle, std::span<const uint8_t> report,
                         std::chrono::milliseconds timeout) {
    return handle >= 0 && !report.empty() && writer_.write(handle, report, timeout);
}

ReadResult LinuxBackend::read(Handle handle, std::span<uint8_t> buffer) {
    if (handle < 0 || buffer.empty())
        return {ReadStatus::None, 0};
    for (;;) {
        const ssize_t n = ::read(handle, buffer.data(), buffer.size());
        if (n > 0)
            return {ReadStatus::Report, static_cast<size_t>(n)};
        if (n == 0 || errno == EAGAIN)
            return {ReadStatus::None, 0};
        if (errno == EINTR)
            continue;
        // EIO once an unplugged device's queue is empty, ENODEV, EBADF and the like.
        return {ReadStatus::Gone, 0};
    }
}

// On the writer's thread like write(): HIDIOCSOUTPUT waits for the transfer as long as write()
// does, and a stalled unit must not hold the caller for the kernel's timeout.
bool LinuxBackend::setOutputReport(Handle handle, std::span<const uint8_t> report) {
    return handle >= 0 && !report.empty() && report.size() <= kMaxIoctlReport &&
           writer_.send(handle, report, kOutputReportTimeout, outputReport_);
}

void LinuxBackend::abandon(Handle handle) {
    writer_.abandon(handle);
}

bool LinuxBackend::getInputReport(Handle handle, std::span<uint8_t> report) {
    return handle >= 0 && !report.empty() && report.size() <= kMaxIoctlReport &&
           reportIoctl(handle, HIDIOCGINPUT(report.size()), report);
}

bool LinuxBackend::setFeatureReport(Handle handle, std::span<const uint8_t> report) {
    return handle >= 0 && !report.empty() && report.size() <= kMaxIoctlReport &&
           setReport(handle, HIDIOCSFEATURE(report.size()), report);
}

bool LinuxBackend::getFeatureReport(Handle handle, std::span<uint8_t> report) {
    return handle >= 0 && !report.empty() && report.size() <= kMaxIoctlReport &&
           reportIoctl(handle, HIDIOCGFEATURE(report.size()), report);
}

WaitStatus LinuxBackend::wait(Handle handle) {
    if (wakeFd_ < 0) {
        // No eventfd could be made: look again every 100 ms rather than never waking.
        pollfd p{handle, POLLIN, 0};
        pollRetrying(&p, handle >= 0 ? 1 : 0, 100);
        if ((p.revents & POLLIN) != 0)
            return WaitStatus::Readable;
        return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? WaitStatus::Gone
                                                                 : WaitStatus::Woken;
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {handle, POLLIN, 0}};
    const nfds_t count = handle >= 0 ? 2 : 1;
    if (pollRetrying(fds, count, -1) < 0)
        return WaitStatus::Gone;
    if ((fds[0].revents & POLLIN) != 0) {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &value, sizeof value);
        return WaitStatus::Woken;
    }
    if (count == 2) {
        // Reports still queued when a device goes away are read first.
        if ((fds[1].revents & POLLIN) != 0)
            return WaitStatus::Readable;
        if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return WaitStatus::Gone;
    }
    return WaitStatus::Woken;
}

void LinuxBackend::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

} // namespace hid
