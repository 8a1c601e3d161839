// SPDX-License-Identifier: GPL-3.0-or-later
// Backend over the system's HID class driver: overlapped handles, each with one read kept under
// way while the device is open, so that no input report is lost between two reads, and with
// output reports sent within a time limit and cancelled when the handle is closed.
#ifndef QX_HID_WINDOWS_WINDOWSBACKEND_H
#define QX_HID_WINDOWS_WINDOWSBACKEND_H

#include "hidlib/core/Backend.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

namespace hid {

class WindowsBackend final : public Backend {
public:
    // How long an output report may take, as on Linux: a working unit that is busy (erasing
    // flash, say) can hold one for some hundred milliseconds.
    static constexpr std::chrono::milliseconds kOutputReportTimeout{1000};

    WindowsBackend();
    ~WindowsBackend() override;
    WindowsBackend(const WindowsBackend&) = delete;
    WindowsBackend& operator=(const WindowsBackend&) = delete;

    std::vector<DeviceRecord> enumerate() override;
    Handle open(const std::string& path, bool readWrite) override;
    void close(Handle handle) override;
    void abandon(Handle handle) override;
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
    struct Device;
    std::shared_ptr<Device> find(Handle handle) const;

    HANDLE wakeEvent_ = nullptr; // auto-reset: one pending wake ends one wait
    mutable std::mutex mutex_;
    std::map<Handle, std::shared_ptr<Device>> devices_; // guarded by mutex_
    Handle nextHandle_ = 0;                             // guarded by mutex_
};

} // namespace hid

#endif
