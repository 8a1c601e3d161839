// Backend over the kernel's hidraw nodes, listed by libudev.
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

// Lists the hidraw nodes in udev's order with what the kernel, udev and sysfs tell about them.
std::vector<DeviceRecord> enumerateHidraw();

} // namespace hid

#endif
