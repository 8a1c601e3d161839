// SPDX-License-Identifier: GPL-3.0-or-later
// The HID access library behind the module's C interface: the device table, the open device,
// the report functions, the reader thread and the two handlers, over any Backend.
#ifndef QX_HID_CORE_LIBRARY_H
#define QX_HID_CORE_LIBRARY_H

#include "hidlib/HID_Lib.h"
#include "hidlib/core/Backend.h"
#include "hidlib/core/DeviceTable.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace hid {

class Library {
public:
    // Starts the reader thread. The backend must outlive the library.
    explicit Library(Backend& backend);
    // Stops and joins the reader, then closes every handle the table still holds.
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    uint8_t scan();
    void deviceInfo(uint8_t index, THIDdeviceInfo* info) const;
    bool open(uint8_t index);
    bool close();

    uint8_t write(const THIDreport& report);
    uint8_t read(THIDreport* report);

    uint8_t outputReportSize() const;
    uint8_t inputReportSize() const;
    uint8_t featureReportSize() const;
    uint8_t outputReportCount(uint8_t reportId) const;
    uint8_t inputReportCount(uint8_t reportId) const;
    uint8_t featureReportCount(uint8_t reportId) const;

    uint8_t setOutputReport(uint8_t* report);
    uint8_t getInputReport(uint8_t* report);
    uint8_t setFeatureReport(uint8_t* report);
    uint8_t getFeatureReport(uint8_t* report);

    // Returns once a call of the previous handler that is under way has ended, so a caller may
    // free what its handler uses; called from inside the handler, it returns at once.
    void setInputHandler(THIDinputHandler handler);
    void setDeviceChangeHandler(THIDdeviceChangeHandler handler);
    // Called by the platform's source of device changes, on the thread that should run the
    // handler; calls the registered device-change handler, if any.
    void notifyDeviceChange() const;

private:
    // An open handle with what its report functions need. The handle is closed when the last
    // user lets go, so a reader in the middle of a read never sees it closed under it.
    struct OpenDevice;
    enum class ReportType { Output, Input, Feature };

    std::shared_ptr<OpenDevice> openDevice() const;
    // A device is being closed: a report still waiting on it gives up rather than hold its caller.
    void abandon(const std::shared_ptr<OpenDevice>& device);
    // A device is open and has not hung up. Needs mutex_.
    bool openAndAlive() const;
    uint8_t reportSize(ReportType type) const;
    uint8_t reportCount(ReportType type, uint8_t reportId) const;
    uint8_t transfer(ReportType type, bool set, uint8_t* report);
    void readerLoop();
    // Reads one report into `out` with the report ID in front; Gone marks the device gone.
    ReadStatus readReport(OpenDevice& device, THIDreport& out);

    Backend& backend_;

    // Lock order: scanMutex_, then mutex_, then whatever the backend locks inside. No library
    // lock is held while a handler runs or while the backend transfers a report.
    std::mutex scanMutex_; // one scan at a time
    mutable std::mutex mutex_;
    std::array<THIDdeviceInfo, kTableSlots> table_{};              // guarded by mutex_
    std::array<std::string, kTableSlots> paths_;                   // guarded by mutex_
    std::array<bool, kTableSlots> numbered_{};                     // guarded by mutex_
    std::array<std::shared_ptr<OpenDevice>, kTableSlots> handles_; // guarded by mutex_
    size_t count_ = 0;                                             // guarded by mutex_
    int32_t openIndex_ = -1;                                       // guarded by mutex_
    uint64_t generation_ = 0; // guarded by mutex_; changes with every open, close and scan
    bool stopping_ = false;   // guarded by mutex_
    THIDinputHandler inputHandler_ = nullptr; // guarded by mutex_
    bool handlerRunning_ = false;             // guarded by mutex_
    std::condition_variable handlerReturned_;
    std::atomic<THIDdeviceChangeHandler> deviceChangeHandler_{nullptr};

    std::thread reader_;
};

} // namespace hid

#endif
