// SPDX-License-Identifier: GPL-3.0-or-later
// A HID library backend whose devices are the virtual units of a bench: one per loaded copy of
// the library, with the copy's own open handles, wakes and change notices.
#pragma once

#include "hidlib/core/Backend.h"
#include "unit/UnitBench.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qx::unit {

class VirtualBackend : public hid::Backend, public BenchClient {
public:
    explicit VirtualBackend(UnitBench& bench);
    ~VirtualBackend() override;
    VirtualBackend(const VirtualBackend&) = delete;
    VirtualBackend& operator=(const VirtualBackend&) = delete;

    // Uses the units of `bench` from now on. Meant for before anything was opened: handles
    // already open are gone afterwards.
    void join(UnitBench& bench);
    // The bench whose units this backend shows.
    UnitBench& bench() const;

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

    // BenchClient
    void benchChanged(int count) override;
    void trafficFor(int slot) override;

private:
    struct OpenHandle {
        int slot = -1; // -1 once closed
        uint32_t plug = 0;
    };

    // The bench and the handle's unit slot and plug-in; slot -1 when the handle is not open.
    struct Target {
        UnitBench* bench = nullptr;
        OpenHandle handle;
    };
    Target targetOf(hid::Handle handle) const;
    bool sendReport(hid::Handle handle, std::span<const uint8_t> report);
    // Lets a wait in progress look again.
    void poke();

    // Lock order: mutex_, then the bench's own. The bench calls in holding its client list's
    // lock, so the bench's client list is never touched while mutex_ is held.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    UnitBench* bench_;                // guarded by mutex_
    std::vector<OpenHandle> handles_; // guarded by mutex_; index is the handle
    bool woken_ = false;              // guarded by mutex_
    int changeFd_ = -1;
};

} // namespace qx::unit
