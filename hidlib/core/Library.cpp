// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/core/Library.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#if __has_include(<pthread.h>)
#include <pthread.h>
#endif

namespace hid {

namespace {

constexpr auto kWriteTimeout = std::chrono::milliseconds(200);

// Named from the starting side so the name is there as soon as the constructor returns.
void nameThread([[maybe_unused]] std::thread& thread, [[maybe_unused]] const char* name) {
#if defined(__linux__)
    pthread_setname_np(thread.native_handle(), name);
#endif
}

// One report of the device's own length, made from the caller's 65-byte record: a shorter report
// takes the record's first bytes, a longer one is the record followed by zeros. Only the
// record's 65 bytes are ever read from or written back to the caller.
class ReportBuffer {
public:
    ReportBuffer(const uint8_t* record, size_t length) {
        if (length <= sizeof(THIDreport)) {
            std::memcpy(small_.data(), record, length);
            bytes_ = std::span<uint8_t>(small_.data(), length);
        } else {
            large_.assign(length, 0);
            std::memcpy(large_.data(), record, sizeof(THIDreport));
            bytes_ = std::span<uint8_t>(large_);
        }
    }
    std::span<uint8_t> bytes() const { return bytes_; }
    // The received report's first bytes, as many as the record holds.
    void copyTo(uint8_t* record) const {
        std::memcpy(record, bytes_.data(), std::min(bytes_.size(), sizeof(THIDreport)));
    }

private:
    std::array<uint8_t, sizeof(THIDreport)> small_{};
    std::vector<uint8_t> large_;
    std::span<uint8_t> bytes_;
};

} // namespace

struct Library::OpenDevice {
    OpenDevice(Backend& b, Handle h, const THIDdeviceInfo& slot, bool isNumbered)
        : backend(b), handle(h), numbered(isNumbered), readWrite(slot.readWrite != 0),
          outputLength(slot.outputReportLength), inputLength(slot.inputReportLength),
          featureLength(slot.featureReportLength) {
        std::memcpy(outputCaps, slot.outputCaps, sizeof(CapTable));
        std::memcpy(inputCaps, slot.inputCaps, sizeof(CapTable));
        std::memcpy(featureCaps, slot.featureCaps, sizeof(CapTable));
    }
    ~OpenDevice() { backend.close(handle); }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

    Backend& backend;
    const Handle handle;
    const bool numbered;
    const bool readWrite;
    const uint16_t outputLength, inputLength, featureLength;
    CapTable outputCaps, inputCaps, featureCaps;
    // Set once the device has hung up, so the reader stops waiting on it.
    std::atomic<bool> gone{false};
};

Library::Library(Backend& backend) : backend_(backend) {
    for (THIDdeviceInfo& slot : table_)
        resetSlot(slot);
    // Normal priority: the reader sleeps until a report is there rather than polling, so it is
    // woken by the report itself; a real-time class would need privileges a desktop user lacks.
    reader_ = std::thread([this] { readerLoop(); });
    nameThread(reader_, "hid-reader");
}

Library::~Library() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    backend_.wake();
    if (reader_.joinable())
        reader_.join();
    std::array<std::shared_ptr<OpenDevice>, kTableSlots> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(handles_);
        openIndex_ = -1;
    }
}

uint8_t Library::scan() {
    std::lock_guard scanLock(scanMutex_);
    std::array<std::shared_ptr<OpenDevice>, kTableSlots> dropped;
    {
        // The table is rebuilt wholesale; handles it held are closed rather than forgotten, and
        // so the open device, if any, is closed with them.
        std::lock_guard lock(mutex_);
        for (THIDdeviceInfo& slot : table_)
            resetSlot(slot);
        paths_.fill({});
        numbered_.fill(false);
        dropped.swap(handles_);
        count_ = 0;
        openIndex_ = -1;
        ++generation_;
    }
    for (const auto& device : dropped)
        abandon(device);
    backend_.wake();
    dropped = {}; // closes outside the lock once the reader lets go

    std::array<THIDdeviceInfo, kTableSlots> slots;
    std::array<std::string, kTableSlots> paths;
    std::array<bool, kTableSlots> numbered{};
    size_t count = 0;
    for (const DeviceRecord& record : backend_.enumerate()) {
        if (count == kTableSlots)
            break;
        THIDdeviceInfo slot = makeSlot(record);
        if (!isListed(slot))
            continue;
        slots[count] = slot;
        paths[count] = record.path;
        numbered[count] = record.caps && record.caps->numberedReports;
        ++count;
    }

    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < count; ++i) {
        table_[i] = slots[i];
        paths_[i] = std::move(paths[i]);
        numbered_[i] = numbered[i];
    }
    count_ = count;
    return static_cast<uint8_t>(count);
}

void Library::deviceInfo(uint8_t index, THIDdeviceInfo* info) const {
    if (info == nullptr || index >= kTableSlots - 1)
        return;
    std::lock_guard lock(mutex_);
    std::memcpy(info, &table_[index], sizeof *info);
}

bool Library::open(uint8_t index) {
    bool opened = false;
    std::shared_ptr<OpenDevice> dead, previous;
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        if (index < count_) {
            THIDdeviceInfo& slot = table_[index];
            // A handle whose device hung up is no handle: the node is opened afresh, if it can be.
            if (handles_[index] && handles_[index]->gone) {
                dead = std::move(handles_[index]);
                slot.handle = -1;
            }
            if (!handles_[index]) {
                const Handle h = backend_.open(paths_[index], slot.readWrite != 0);
                if (h >= 0)
                    handles_[index] =
                        std::make_shared<OpenDevice>(backend_, h, slot, numbered_[index]);
                slot.handle = h >= 0 ? h : -1;
            }
            opened = handles_[index] != nullptr;
        }
        // With nothing open afterwards, the device that was open would otherwise keep its handle
        // with no call left to close it.
        if (!opened && openIndex_ >= 0) {
            previous = std::move(handles_[openIndex_]);
            table_[openIndex_].handle = -1;
        }
        openIndex_ = opened ? index : -1;
    }
    abandon(dead);
    abandon(previous);
    backend_.wake();
    return opened; // `dead` and `previous` close here, outside the lock, once the reader lets go
}

bool Library::close() {
    std::shared_ptr<OpenDevice> dropped;
    {
        std::lock_guard lock(mutex_);
        if (openIndex_ < 0)
            return false;
        dropped = std::move(handles_[openIndex_]);
        table_[openIndex_].handle = -1;
        openIndex_ = -1;
        ++generation_;
    }
    abandon(dropped);
    backend_.wake();
    return true;
}

void Library::abandon(const std::shared_ptr<OpenDevice>& device) {
    if (device)
        backend_.abandon(device->handle);
}

std::shared_ptr<Library::OpenDevice> Library::openDevice() const {
    std::lock_guard lock(mutex_);
    return openIndex_ < 0 ? nullptr : handles_[openIndex_];
}

uint8_t Library::write(const THIDreport& report) {
    const auto device = openDevice();
    if (!device || !device->readWrite || device->gone || device->outputLength == 0)
        return 0;
    ReportBuffer buffer(reinterpret_cast<const uint8_t*>(&report), device->outputLength);
    if (!backend_.write(device->handle, buffer.bytes(), kWriteTimeout))
        return 0;
    return elementCount(device->outputCaps, device->outputLength, report.reportId);
}

ReadStatus Library::readReport(OpenDevice& device, THIDreport& out) {
    std::memset(&out, 0, sizeof out);
    auto* bytes = reinterpret_cast<uint8_t*>(&out);
    // Without numbered reports the device sends no ID byte: read behind a 0 so that every
    // report starts with its report ID.
    const std::span<uint8_t> buffer =
        device.numbered ? std::span<uint8_t>(bytes, sizeof out) : std::span<uint8_t>(out.data);
    const ReadResult result = backend_.read(device.handle, buffer);
    if (result.status == ReadStatus::Gone)
        device.gone = true;
    return result.status;
}

uint8_t Library::read(THIDreport* report) {
    const auto device = openDevice();
    if (report == nullptr || !device || device->gone)
        return 0;
    THIDreport local;
    if (readReport(*device, local) != ReadStatus::Report)
        return 0;
    std::memcpy(report, &local, sizeof local);
    return elementCount(device->inputCaps, device->inputLength, local.reportId);
}

bool Library::openAndAlive() const {
    return openIndex_ >= 0 && handles_[openIndex_] && !handles_[openIndex_]->gone;
}

uint8_t Library::reportSize(ReportType type) const {
    std::lock_guard lock(mutex_);
    if (!openAndAlive())
        return 0;
    const THIDdeviceInfo& slot = table_[openIndex_];
    switch (type) {
    case ReportType::Output:
        return static_cast<uint8_t>(slot.outputReportLength);
    case ReportType::Input:
        return static_cast<uint8_t>(slot.inputReportLength);
    case ReportType::Feature:
        return static_cast<uint8_t>(slot.featureReportLength);
    }
    return 0;
}

uint8_t Library::reportCount(ReportType type, uint8_t reportId) const {
    std::lock_guard lock(mutex_);
    if (!openAndAlive())
        return 0;
    const THIDdeviceInfo& slot = table_[openIndex_];
    switch (type) {
    case ReportType::Output:
        return elementCount(slot.outputCaps, slot.outputReportLength, reportId);
    case ReportType::Input:
        return elementCount(slot.inputCaps, slot.inputReportLength, reportId);
    case ReportType::Feature:
        return elementCount(slot.featureCaps, slot.featureReportLength, reportId);
    }
    return 0;
}

uint8_t Library::outputReportSize() const {
    return reportSize(ReportType::Output);
}
uint8_t Library::inputReportSize() const {
    return reportSize(ReportType::Input);
}
uint8_t Library::featureReportSize() const {
    return reportSize(ReportType::Feature);
}
uint8_t Library::outputReportCount(uint8_t id) const {
    return reportCount(ReportType::Output, id);
}
uint8_t Library::inputReportCount(uint8_t id) const {
    return reportCount(ReportType::Input, id);
}
uint8_t Library::featureReportCount(uint8_t id) const {
    return reportCount(ReportType::Feature, id);
}

uint8_t Library::transfer(ReportType type, bool set, uint8_t* report) {
    const auto device = openDevice();
    if (report == nullptr || !device || device->gone)
        return 0;
    uint16_t length = 0;
    const CapTable* caps = nullptr;
    switch (type) {
    case ReportType::Output:
        length = device->outputLength;
        caps = &device->outputCaps;
        break;
    case ReportType::Input:
        length = device->inputLength;
        caps = &device->inputCaps;
        break;
    case ReportType::Feature:
        length = device->featureLength;
        caps = &device->featureCaps;
        break;
    }
    if (length == 0)
        return 0;
    // The requested ID: a get overwrites the buffer with the device's reply, whose first byte
    // need not echo it.
    const uint8_t reportId = report[0];
    ReportBuffer buffer(report, length);
    bool ok = false;
    if (type == ReportType::Output)
        ok = backend_.setOutputReport(device->handle, buffer.bytes());
    else if (type == ReportType::Input)
        ok = backend_.getInputReport(device->handle, buffer.bytes());
    else if (set)
        ok = backend_.setFeatureReport(device->handle, buffer.bytes());
    else
        ok = backend_.getFeatureReport(device->handle, buffer.bytes());
    if (ok && !set)
        buffer.copyTo(report);
    return ok ? elementCount(*caps, length, reportId) : 0;
}

uint8_t Library::setOutputReport(uint8_t* report) {
    return transfer(ReportType::Output, true, report);
}
uint8_t Library::getInputReport(uint8_t* report) {
    return transfer(ReportType::Input, false, report);
}
uint8_t Library::setFeatureReport(uint8_t* report) {
    return transfer(ReportType::Feature, true, report);
}
uint8_t Library::getFeatureReport(uint8_t* report) {
    return transfer(ReportType::Feature, false, report);
}

void Library::setInputHandler(THIDinputHandler handler) {
    {
        std::unique_lock lock(mutex_);
        inputHandler_ = handler;
        if (std::this_thread::get_id() != reader_.get_id())
            handlerReturned_.wait(lock, [&] { return !handlerRunning_; });
    }
    backend_.wake();
}

void Library::setDeviceChangeHandler(THIDdeviceChangeHandler handler) {
    deviceChangeHandler_.store(handler);
}

void Library::notifyDeviceChange() const {
    if (const THIDdeviceChangeHandler handler = deviceChangeHandler_.load())
        handler();
}

void Library::readerLoop() {
    for (;;) {
        std::shared_ptr<OpenDevice> device;
        uint64_t generation = 0;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            // Without a handler nothing is read: reports wait in the system's queue.
            if (openIndex_ >= 0 && inputHandler_ != nullptr && !handles_[openIndex_]->gone)
                device = handles_[openIndex_];
            generation = generation_;
        }
        if (!device) {
            backend_.wait(-1);
            continue;
        }
        const WaitStatus woke = backend_.wait(device->handle);
        if (woke == WaitStatus::Woken)
            continue;
        if (woke == WaitStatus::Gone) {
            device->gone = true;
            continue;
        }
        THIDreport report;
        if (readReport(*device, report) != ReadStatus::Report)
            continue;
        const uint8_t count = elementCount(device->inputCaps, device->inputLength, report.reportId);
        if (count == 0)
            continue;
        THIDinputHandler handler = nullptr;
        {
            // A report read just before a close, scan or reopen belongs to a device that is no
            // longer the open one: drop it.
            std::lock_guard lock(mutex_);
            if (!stopping_ && generation_ == generation)
                handler = inputHandler_;
            handlerRunning_ = handler != nullptr;
        }
        device.reset(); // a close during the handler call closes the handle at once
        if (handler != nullptr) {
            handler(report, count);
            {
                std::lock_guard lock(mutex_);
                handlerRunning_ = false;
            }
            handlerReturned_.notify_all();
        }
    }
}

} // namespace hid
