// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/windows/WindowsBackend.h"

#include "hidlib/windows/Enumerate.h"
#include "hidlib/windows/ReportSender.h"

// The HID class headers declare their functions without C linkage for C++.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace hid {

namespace {

// Errors after which a handle's device is taken as gone rather than merely busy.
bool meansGone(DWORD error) {
    return error != ERROR_IO_PENDING && error != ERROR_IO_INCOMPLETE &&
           error != ERROR_OPERATION_ABORTED;
}

// One overlapped transfer's event and record, released only once the transfer has ended.
struct Overlapped {
    Overlapped() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) { ov.hEvent = event; }
    ~Overlapped() {
        if (event != nullptr)
            CloseHandle(event);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;

    HANDLE event;
    OVERLAPPED ov{};
};

} // namespace

// An open handle and its read under way. The read's buffer and record stay alive until the read
// has ended: a cancelled read is waited for before they are freed.
struct WindowsBackend::Device {
    Device(HANDLE f, bool rw, size_t inputLength)
        : file(f), readable(rw), sender(std::make_unique<ReportSender>(f)), buffer(inputLength) {}
    ~Device() {
        sender.reset(); // cancels a report left behind, while the handle is still open
        if (reading) {
            CancelIoEx(file, &read.ov);
            DWORD n = 0;
            GetOverlappedResult(file, &read.ov, &n, TRUE);
        }
        CloseHandle(file);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    enum class Start { Pending, Done, Gone };
    // Starts the next read; called with `lock` held.
    Start startRead() {
        ResetEvent(read.event);
        read.ov.Offset = read.ov.OffsetHigh = 0;
        DWORD n = 0;
        if (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &n, &read.ov)) {
            reading = true; // completed at once; collected like a finished read
            return Start::Done;
        }
        if (GetLastError() == ERROR_IO_PENDING) {
            reading = true;
            return Start::Pending;
        }
        return Start::Gone;
    }

    const HANDLE file;
    const bool readable; // a query-only handle cannot read
    std::unique_ptr<ReportSender> sender;
    std::mutex lock;
    Overlapped read;             // guarded by lock
    std::vector<uint8_t> buffer; // guarded by lock
    bool reading = false;        // guarded by lock: a read is under way or finished, not collected
};

WindowsBackend::WindowsBackend() : wakeEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

WindowsBackend::~WindowsBackend() {
    {
        std::lock_guard lock(mutex_);
        devices_.clear();
    }
    if (wakeEvent_ != nullptr)
        CloseHandle(wakeEvent_);
}

std::vector<DeviceRecord> WindowsBackend::enumerate() {
    return enumerateHidInterfaces();
}

Handle WindowsBackend::open(const std::string& path, bool readWrite) {
    const HANDLE file = openDevicePath(path, readWrite, true);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    // The class driver refuses a read into a buffer shorter than the longest input report.
    const std::optional<DescriptorCaps> caps = readCaps(file);
    const size_t inputLength = std::max<size_t>(caps ? caps->input.byteLength : 0, 65);
    auto device = std::make_shared<Device>(file, readWrite, inputLength);
    std::lock_guard lock(mutex_);
    // Handles are never reused, so a stale one cannot reach another device.
    if (nextHandle_ == INT32_MAX)
        return -1;
    const Handle handle = nextHandle_++;
    devices_.emplace(handle, std::move(device));
    return handle;
}

void WindowsBackend::close(Handle handle) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(handle);
        if (it == devices_.end())
            return;
        device = std::move(it->second);
        devices_.erase(it);
    }
    // Closed here, or by the last caller still inside an operation on it.
}

std::shared_ptr<WindowsBackend::Device> WindowsBackend::find(Handle handle) const {
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(handle);
    return it == devices_.end() ? nullptr : it->second;
}

bool WindowsBackend::write(Handle handle, std::span<const uint8_t> report,
                           std::chrono::milliseconds timeout) {
    const std::shared_ptr<Device> device = find(handle);
    return device && device->sender->send(report, timeout);
}

void WindowsBackend::abandon(Handle handle) {
    if (const std::shared_ptr<Device> device = find(handle))
        device->sender->abandon();
}

ReadResult WindowsBackend::read(Handle handle, std::span<uint8_t> buffer) {
    const std::shared_ptr<Device> device = find(handle);
    if (!device || buffer.empty() || !device->readable)
        return {ReadStatus::None, 0};
    std::lock_guard lock(device->lock);
    if (!device->reading) {
        const Device::Start start = device->startRead();
        if (start == Device::Start::Gone)
            return {meansGone(GetLastError()) ? ReadStatus::Gone : ReadStatus::None, 0};
    }
    DWORD n = 0;
    if (!GetOverlappedResult(device->file, &device->read.ov, &n, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return {ReadStatus::None, 0};
        device->reading = false;
        return {meansGone(error) ? ReadStatus::Gone : ReadStatus::None, 0};
    }
    device->reading = false;
    const size_t size = std::min<size_t>({n, buffer.size(), device->buffer.size()});
    std::memcpy(buffer.data(), device->buffer.data(), size);
    // Keep the next read under way, so reports arriving now queue behind it.
    if (device->startRead() == Device::Start::Gone)
        device->reading = false;
    return {size > 0 ? ReadStatus::Report : ReadStatus::None, size};
}

// Over the handle's own overlapped I/O like write(), which the class driver sends the same way
// (the interrupt channel when the device has one, else a control request): unlike the class
// library's synchronous call, it can be given up on and cancelled.
bool WindowsBackend::setOutputReport(Handle handle, std::span<const uint8_t> report) {
    const std::shared_ptr<Device> device = find(handle);
    return device && device->sender->send(report, kOutputReportTimeout);
}

bool WindowsBackend::getInputReport(Handle handle, std::span<uint8_t> report) {
    const std::shared_ptr<Device> device = find(handle);
    return device && !report.empty() &&
           HidD_GetInputReport(device->file, report.data(), static_cast<ULONG>(report.size()));
}

bool WindowsBackend::setFeatureReport(Handle handle, std::span<const uint8_t> report) {
    const std::shared_ptr<Device> device = find(handle);
    if (!device || report.empty())
        return false;
    std::vector<uint8_t> copy(report.begin(), report.end());
    return HidD_SetFeature(device->file, copy.data(), static_cast<ULONG>(copy.size()));
}

bool WindowsBackend::getFeatureReport(Handle handle, std::span<uint8_t> report) {
    const std::shared_ptr<Device> device = find(handle);
    return device && !report.empty() &&
           HidD_GetFeature(device->file, report.data(), static_cast<ULONG>(report.size()));
}

WaitStatus WindowsBackend::wait(Handle handle) {
    const std::shared_ptr<Device> device = handle >= 0 ? find(handle) : nullptr;
    if (handle >= 0 && !device)
        return WaitStatus::Gone;
    HANDLE events[2] = {wakeEvent_, nullptr};
    DWORD count = 1;
    if (device && device->readable) {
        std::lock_guard lock(device->lock);
        if (!device->reading) {
            const Device::Start start = device->startRead();
            if (start == Device::Start::Done)
                return WaitStatus::Readable;
            if (start == Device::Start::Gone)
                return meansGone(GetLastError()) ? WaitStatus::Gone : WaitStatus::Woken;
        }
        // The event belongs to the read under way; it stays valid while `device` is held.
        events[1] = device->read.event;
        count = 2;
    }
    if (wakeEvent_ == nullptr) {
        // No wake event could be made: look again every 100 ms rather than never waking.
        const DWORD r =
            count == 2 ? WaitForSingleObject(events[1], 100) : (Sleep(100), WAIT_TIMEOUT);
        return r == WAIT_OBJECT_0 ? WaitStatus::Readable : WaitStatus::Woken;
    }
    switch (WaitForMultipleObjects(count, events, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
        return WaitStatus::Woken;
    case WAIT_OBJECT_0 + 1:
        return WaitStatus::Readable; // read() tells a report from a device gone
    default:
        return WaitStatus::Gone;
    }
}

void WindowsBackend::wake() {
    if (wakeEvent_ != nullptr)
        SetEvent(wakeEvent_);
}

} // namespace hid
