// SPDX-License-Identifier: GPL-3.0-or-later
// What the link needs of the HID access library. The program's implementation calls the loaded
// module's entry points; tests put a virtual unit behind it directly.
#pragma once

#include "hidlib/HID_Lib.h"

#include <cstdint>

namespace qx {

class HidPort {
public:
    virtual ~HidPort() = default;
    virtual uint8_t scanForDevices() = 0;
    virtual void getDeviceInfo(uint8_t index, THIDdeviceInfo* info) = 0;
    virtual bool openDevice(uint8_t index) = 0;
    virtual bool closeDevice() = 0;
    // Sends one output report (report ID first); the element count, or 0 when refused.
    virtual uint8_t setOutputReport(uint8_t* report) = 0;
};

// No library, or no unit: finds nothing, opens nothing, sends nothing.
class NoPort : public HidPort {
public:
    uint8_t scanForDevices() override { return 0; }
    void getDeviceInfo(uint8_t, THIDdeviceInfo*) override {}
    bool openDevice(uint8_t) override { return false; }
    bool closeDevice() override { return false; }
    uint8_t setOutputReport(uint8_t*) override { return 0; }
};

} // namespace qx
