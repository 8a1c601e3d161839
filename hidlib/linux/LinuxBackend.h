// Backend over the kernel's hidraw nodes, listed from sysfs.
#ifndef QX_HID_LINUX_LINUXBACKEND_H
#define QX_HID_LINUX_LINUXBACKEND_H

#include "hidlib/core/Backend.h"
#include "hidlib/linux/BoundedWriter.h"

namespace hid {

class LinuxBackend final : public Backend {
public:
    LinuxBackend();
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
    WaitStatus wait(Handle handle) override;
    void wake() override;

private:
    int wakeFd_ = -1; // eventfd that ends a wait()
    BoundedWriter writer_;
};

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
