// SPDX-License-Identifier: GPL-3.0-or-later
// What the library core needs from a platform: a list of devices and access to one device's
// reports. A backend knows about devices, not about the device table or the callbacks.
#ifndef QX_HID_CORE_BACKEND_H
#define QX_HID_CORE_BACKEND_H

#include "hidlib/descriptor/ReportDescriptor.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace hid {

// One present device as the platform describes it.
struct DeviceRecord {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t releaseNumber = 0;
    std::optional<std::string> manufacturer; // nullopt: the device gives none
    std::optional<std::string> product;
    std::optional<std::string> serial;
    std::optional<DescriptorCaps> caps; // nullopt: no descriptor could be had or parsed
    bool readWrite = false;             // could be opened for reading and writing
};

enum class ReadStatus { Report, None, Gone };

struct ReadResult {
    ReadStatus status = ReadStatus::None;
    size_t size = 0; // bytes stored, for ReadStatus::Report
};

enum class WaitStatus { Readable, Woken, Gone };

using Handle = int32_t; // >= 0 when valid

// Every operation may be called from any thread, also at the same time on one handle. None of
// them calls back into the library. Report buffers hold the report ID first (0 when the device
// does not number its reports), except where read() says otherwise; those of write() and the
// control-channel transfers belong to the library and are exactly the device's declared length
// for that report type, so a backend may use all of them.
class Backend {
public:
    virtual ~Backend() = default;

    // Present devices in the platform's own order.
    virtual std::vector<DeviceRecord> enumerate() = 0;
    // Opens a listed device for reading and writing, or for queries only; -1 on failure.
    virtual Handle open(const std::string& path, bool readWrite) = 0;
    // Releases a handle from open(); it is never used again afterwards.
    virtual void close(Handle handle) = 0;
    // The handle is being closed while another thread may still be sending on it: reports still
    // waiting on it give up at once. The handle stays valid until close().
    virtual void abandon(Handle handle) { (void)handle; }
    // Sends an output report over the interrupt channel; false when not accepted within timeout.
    virtual bool write(Handle handle, std::span<const uint8_t> report,
                       std::chrono::milliseconds timeout) = 0;
    // Takes one queued input report without blocking, as the device sent it: a device that does
    // not number its reports gives no report ID byte. Longer reports are cut to the buffer.
    virtual ReadResult read(Handle handle, std::span<uint8_t> buffer) = 0;
    // Control-channel transfers of a whole report; false on failure.
    virtual bool setOutputReport(Handle handle, std::span<const uint8_t> report) = 0;
    virtual bool getInputReport(Handle handle, std::span<uint8_t> report) = 0;
    virtual bool setFeatureReport(Handle handle, std::span<const uint8_t> report) = 0;
    virtual bool getFeatureReport(Handle handle, std::span<uint8_t> report) = 0;
    // Blocks until the handle has a report or has gone away, or until wake() was called since
    // the last wait returned Woken. With handle -1 only a wake ends the wait.
    virtual WaitStatus wait(Handle handle) = 0;
    // Ends the current or next wait(); wakes are not counted, one pending wake is enough.
    virtual void wake() = 0;
};

} // namespace hid

#endif
