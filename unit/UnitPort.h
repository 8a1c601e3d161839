// SPDX-License-Identifier: GPL-3.0-or-later
// A virtual unit plugged straight into the link, without the HID library module: the port the
// link sends through, plus a delivery thread that plays the library's reader.
#pragma once

#include "link/HidPort.h"
#include "unit/VirtualUnit.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qx::unit {

// Fills a device table slot the way the library lists the unit.
void describeUnit(const VirtualUnit& unit, THIDdeviceInfo& info);

class UnitPort : public HidPort {
public:
    using InputHandler = std::function<void(const THIDreport&, uint8_t)>;

    explicit UnitPort(VirtualUnit& unit);
    ~UnitPort() override;
    UnitPort(const UnitPort&) = delete;
    UnitPort& operator=(const UnitPort&) = delete;

    // Replaces the handler; returns only once no call of the old one is under way (unless called
    // from that call itself), so the caller may then destroy what the old handler used.
    void setInputHandler(InputHandler handler);
    // Unplugging closes the device; reports still queued in the unit are lost.
    void setPlugged(bool plugged);
    bool isOpen() const;

    uint8_t scanForDevices() override;
    void getDeviceInfo(uint8_t index, THIDdeviceInfo* info) override;
    bool openDevice(uint8_t index) override;
    bool closeDevice() override;
    uint8_t setOutputReport(uint8_t* report) override;

    unsigned reportsSent() const;

private:
    void deliver();

    VirtualUnit& unit_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    InputHandler handler_;     // guarded by mutex_
    bool plugged_ = true;      // guarded by mutex_
    bool open_ = false;        // guarded by mutex_
    uint64_t wakeGen_ = 0;     // guarded by mutex_
    bool delivering_ = false;  // guarded by mutex_; a handler call is under way
    unsigned reportsSent_ = 0; // guarded by mutex_
    bool stopping_ = false;    // guarded by mutex_
    std::thread thread_;       // last: starts after the members it uses
};

} // namespace qx::unit
