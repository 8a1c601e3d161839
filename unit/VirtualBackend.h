// SPDX-License-Identifier: GPL-3.0-or-later
// A HID library backend whose devices are virtual units.
#pragma once

#include "hidlib/core/Backend.h"
#include "unit/VirtualBench.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace qx::unit {

class VirtualBackend : public hid::Backend, public VirtualBench {
public:
    // Starts with one unit of the default identity, plugged in.
    VirtualBackend();
    ~VirtualBackend() override;

    // Readable whenever a unit was plugged, unplugged or restarted since the last drain().
    int changeFd() const { return changeFd_; }
    // Takes the pending changes; how many there were.
    int drain();

    // hid::Backend
    std::vector<hid::DeviceRecord> enumerate() override;
    hid::Handle open(const std::string& path, bool readWrite) override;
    void close(hid::Handle handle) override;
    bool write(hid::Handle handle, std::span<const uint8_t> report,
               std::chrono::milliseconds timeout) override;
    hid::ReadResult read(hid::Handle handle, std::span<uint8_t> buffer) override;
    bool setOutputReport(hid::Handle handle, std::span<const uint8_t> report) override;
    bool getInputReport(hid::Handle handle, std::span<uint8_t> report) override;
    bool setFeatureReport(hid::Handle handle, std::span<const uint8_t> report) override;
    bool getFeatureReport(hid::Handle handle, std::span<uint8_t> report) override;
    hid::WaitStatus wait(hid::Handle handle) override;
    void wake() override;

    // VirtualBench
    int unitCount() const override;
    int addUnit(const Identity& identity) override;
    void reset() override;
    VirtualUnit& unit(int index) override;
    void setPlugged(int index, bool plugged) override;
    bool plugged(int index) const override;
    void restart(int index, bool boot) override;
    void setOpenable(int index, bool openable) override;

private:
    struct Slot {
        std::shared_ptr<VirtualUnit> unit;
        bool plugged = false;
        bool openable = true;
        uint32_t plugCount = 0; // handles from an earlier plug-in are gone
    };
    struct OpenHandle {
        int slot = -1;
        uint32_t plugCount = 0;
    };

    // The unit behind a live handle, or nullptr when it is gone. Needs mutex_.
    std::shared_ptr<VirtualUnit> unitOf(hid::Handle handle) const;
    void signalChange();
    void setPluggedLocked(int index, bool plugged);
    bool sendReport(hid::Handle handle, std::span<const uint8_t> report);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;         // guarded by mutex_; slots are never removed but by reset()
    std::vector<OpenHandle> handles_; // guarded by mutex_; index is the handle
    bool woken_ = false;              // guarded by mutex_
    uint64_t traffic_ = 0;            // guarded by mutex_; bumped when reports are queued
    int changeFd_ = -1;
};

} // namespace qx::unit
