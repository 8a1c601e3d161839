// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeBackend.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace hidtest {

namespace {

hid::ReportTypeCaps oneField(uint16_t byteLength, uint8_t reportId, uint16_t count) {
    hid::ReportTypeCaps caps;
    caps.byteLength = byteLength;
    caps.valueCaps.push_back({0xFF00, 1, 1, false, reportId, 8, count});
    return caps;
}

} // namespace

hid::DeviceRecord unitRecord(const std::string& path, bool numbered) {
    hid::DeviceRecord r;
    r.path = path;
    r.vendorId = 0x1209;
    r.productId = 0x0001;
    r.releaseNumber = 0x0102;
    r.manufacturer = "ORB-MX";
    r.product = "QX-77ZT";
    r.serial = "0001";
    r.readWrite = true;
    hid::DescriptorCaps caps;
    caps.input = oneField(65, 1, 64);
    caps.output = oneField(65, 1, 64);
    caps.numberedReports = numbered;
    r.caps = caps;
    return r;
}

hid::DeviceRecord unnumberedRecord(const std::string& path) {
    hid::DeviceRecord r = unitRecord(path, false);
    r.caps->input = oneField(9, 0, 8);
    r.caps->output = oneField(9, 0, 8);
    return r;
}

void FakeBackend::setDevices(std::vector<hid::DeviceRecord> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void FakeBackend::refuseOpen(const std::string& path) {
    std::lock_guard lock(mutex_);
    refused_.insert(path);
}

void FakeBackend::push(const std::string& path, Bytes report) {
    {
        std::lock_guard lock(mutex_);
        state_[path].queue.push_back(std::move(report));
    }
    changed_.notify_all();
}

void FakeBackend::unplug(const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        state_[path].gone = true;
    }
    changed_.notify_all();
}

void FakeBackend::setReadDelay(std::chrono::microseconds delay) {
    std::lock_guard lock(mutex_);
    readDelay_ = delay;
}

void FakeBackend::setGetReply(Bytes reply) {
    std::lock_guard lock(mutex_);
    getReply_ = std::move(reply);
}

std::vector<FakeBackend::Transfer> FakeBackend::transfers() const {
    std::lock_guard lock(mutex_);
    return transfers_;
}

std::vector<hid::Handle> FakeBackend::abandoned() const {
    std::lock_guard lock(mutex_);
    return abandoned_;
}

size_t FakeBackend::queued(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto it = state_.find(path);
    return it == state_.end() ? 0 : it->second.queue.size();
}

size_t FakeBackend::openHandles() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
}

std::vector<hid::DeviceRecord> FakeBackend::enumerate() {
    ++enumerations;
    std::lock_guard lock(mutex_);
    return devices_;
}

hid::Handle FakeBackend::open(const std::string& path, bool) {
    std::lock_guard lock(mutex_);
    const bool known = std::any_of(devices_.begin(), devices_.end(),
                                   [&](const hid::DeviceRecord& d) { return d.path == path; });
    // An unplugged device's node is gone: it cannot be opened again.
    const auto st = state_.find(path);
    if (!known || refused_.count(path) != 0 || (st != state_.end() && st->second.gone))
        return -1;
    ++opens;
    const hid::Handle h = nextHandle_++;
    handles_[h] = OpenHandle{path, 0};
    return h;
}

void FakeBackend::abandon(hid::Handle handle) {
    std::lock_guard lock(mutex_);
    if (handles_.find(handle) == handles_.end())
        ++violations;
    abandoned_.push_back(handle);
}

void FakeBackend::close(hid::Handle handle) {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.busy != 0)
        ++violations;
    if (it != handles_.end())
        handles_.erase(it);
    ++closes;
}

FakeBackend::OpenHandle* FakeBackend::enter(hid::Handle handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        ++violations;
        return nullptr;
    }
    ++it->second.busy;
    return &it->second;
}

void FakeBackend::leave(hid::Handle handle) {
    const auto it = handles_.find(handle);
    if (it != handles_.end())
        --it->second.busy;
}

bool FakeBackend::record(const char* op, hid::Handle handle, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    OpenHandle* h = enter(handle);
    if (h == nullptr)
        return false;
    transfers_.push_back({op, handle, Bytes(bytes.begin(), bytes.end())});
    const bool gone = state_[h->path].gone;
    leave(handle);
    return !gone;
}

bool FakeBackend::write(hid::Handle handle, std::span<const uint8_t> report,
                        std::chrono::milliseconds) {
    return record("write", handle, report);
}

hid::ReadResult FakeBackend::read(hid::Handle handle, std::span<uint8_t> buffer) {
    ++reads;
    std::chrono::microseconds delay{0};
    std::string path;
    {
        std::lock_guard lock(mutex_);
        OpenHandle* h = enter(handle);
        if (h == nullptr)
            return {hid::ReadStatus::Gone, 0};
        delay = readDelay_;
        path = h->path;
    }
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay); // the handle stays busy meanwhile
    std::lock_guard lock(mutex_);
    leave(handle);
    Device& device = state_[path];
    if (device.queue.empty())
        return {device.gone ? hid::ReadStatus::Gone : hid::ReadStatus::None, 0};
    const Bytes report = std::move(device.queue.front());
    device.queue.pop_front();
    const size_t n = std::min(report.size(), buffer.size());
    std::memcpy(buffer.data(), report.data(), n);
    return {hid::ReadStatus::Report, n};
}

bool FakeBackend::setOutputReport(hid::Handle handle, std::span<const uint8_t> report) {
    return record("setOutput", handle, report);
}

bool FakeBackend::setFeatureReport(hid::Handle handle, std::span<const uint8_t> report) {
    return record("setFeature", handle, report);
}

bool FakeBackend::getInputReport(hid::Handle handle, std::span<uint8_t> report) {
    if (!record("getInput", handle, report))
        return false;
    std::lock_guard lock(mutex_);
    std::memcpy(report.data(), getReply_.data(), std::min(report.size(), getReply_.size()));
    return true;
}

bool FakeBackend::getFeatureReport(hid::Handle handle, std::span<uint8_t> report) {
    if (!record("getFeature", handle, report))
        return false;
    std::lock_guard lock(mutex_);
    std::memcpy(report.data(), getReply_.data(), std::min(report.size(), getReply_.size()));
    return true;
}

hid::WaitStatus FakeBackend::wait(hid::Handle handle) {
    ++waits;
    std::unique_lock lock(mutex_);
    std::string path;
    if (handle >= 0) {
        OpenHandle* h = enter(handle);
        if (h == nullptr)
            return hid::WaitStatus::Gone;
        path = h->path;
    }
    hid::WaitStatus result = hid::WaitStatus::Woken;
    changed_.wait(lock, [&] {
        if (woken_)
            return true;
        if (handle < 0)
            return false;
        const Device& device = state_[path];
        if (!device.queue.empty()) {
            result = hid::WaitStatus::Readable;
            return true;
        }
        if (device.gone) {
            result = hid::WaitStatus::Gone;
            return true;
        }
        return false;
    });
    if (woken_) {
        woken_ = false;
        result = hid::WaitStatus::Woken;
    }
    if (handle >= 0)
        leave(handle);
    return result;
}

void FakeBackend::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

} // namespace hidtest
