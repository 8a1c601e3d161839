// SPDX-License-Identifier: GPL-3.0-or-later
// Backend over the kernel's hidraw nodes, listed from sysfs.
#ifndef QX_HID_LINUX_LINUXBACKEND_H
#define QX_HID_LINUX_LINUXBACKEND_H

#include "hidlib/core/Backend.h"
#include "hidlib/linux/BoundedWriter.h"

namespace hid {

class LinuxBackend final : public Backend {
public:
    // How long an output report may take. The kernel holds one until the device takes it or
    // its own timeout of several seconds runs out; a working unit that is busy (erasing flash,
    // say) can hold one for some hundred milliseconds, a stalled one for the kernel's timeout.
    static constexpr std::chrono::milliseconds kOutputReportTimeout{1000};

    LinuxBackend();
    // With other ways of putting a report on the wire (tests stand in for a stalled device).
    LinuxBackend(BoundedWriter::WriteOnce write, BoundedWriter::WriteOnce outputReport);
    ~LinuxBackend() override;
    LinuxBackend(const LinuxBackend&) = delete;
    LinuxBackend& operator=(const LinuxBackend&) = delete;

    std::vector<DeviceRecord> enumerate() override;
    Handle open(const std::string& path, bool readWrite) override;
    void close(Handle handle) override;
    bool write(Handle handle, std::span<const uint8_t> report,
               std::chrono::milliseconds timeout) override;
    ReadResult read(Handle handle, std::span<uint8_t> buffer) override;
    bool setOutputReport(Handle handle, std::span<const uint8_t> report) override;
    bool getInputReport(Handle handle, std::span<uint8_t> report) override;
    bool setFeatureReport(Handle handle, std::span<const uint8_t> report) override;
    bool getFeatureReport(Handle handle, std::span<uint8_t> report) override;
    void abandon(Handle handle) override;
    WaitStatus wait(Handle handle) override;
    void wake() override;

private:
    int wakeFd_ = -1; // eventfd that ends a wait()
    BoundedWriter writer_;
    const BoundedWriter::WriteOnce outputReport_;
};

// Sends an output report with HIDIOCSOUTPUT, or with write() on a kernel without it.
bool sendOutputReport(int fd, std::span<const uint8_t> report,
                      BoundedWriter::Clock::time_point deadline);

// Where a scan looks: the sysfs mount and the folder of device nodes.
struct ScanRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// Lists the hidraw nodes in udev's order (by device path) with what sysfs tells about them,
// without opening any of them.
std::vector<DeviceRecord> enumerateHidraw(const ScanRoots& roots = {});

} // namespace hid

#endif
