// SPDX-License-Identifier: GPL-3.0-or-later
// A backend holding scripted devices in memory, for driving the library core in tests and
// benchmarks. It counts every call and notices any use of a handle after it was closed.
#ifndef QX_TESTS_HIDLIB_FAKEBACKEND_H
#define QX_TESTS_HIDLIB_FAKEBACKEND_H

#include "hidlib/core/Backend.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace hidtest {

using Bytes = std::vector<uint8_t>;

// A device with one 64-byte input and one 64-byte output report, ID 1, as the unit has.
hid::DeviceRecord unitRecord(const std::string& path, bool numbered = true);
// A device without numbered reports: 8-byte input and output reports sent without an ID byte.
hid::DeviceRecord unnumberedRecord(const std::string& path);

class FakeBackend final : public hid::Backend {
public:
    // Devices, listed in this order by enumerate().
    void setDevices(std::vector<hid::DeviceRecord> devices);
    // Makes open() of this path fail.
    void refuseOpen(const std::string& path);
    // Queues an input report as the device sends it (no ID byte for unnumbered devices).
    void push(const std::string& path, Bytes report);
    // Unplugs: the queued reports can still be read, then the device is gone.
    void unplug(const std::string& path);
    // Makes every read() take this long, to widen races with close().
    void setReadDelay(std::chrono::microseconds delay);
    // Reply given by getInputReport/getFeatureReport (copied over the buffer's start).
    void setGetReply(Bytes reply);

    struct Transfer {
        std::string op;
        hid::Handle handle;
        Bytes bytes;
    };
    std::vector<Transfer> transfers() const;
    // Handles given up on by abandon(), in order.
    std::vector<hid::Handle> abandoned() const;
    size_t queued(const std::string& path) const;
    size_t openHandles() const;

    std::atomic<int> opens{0}, closes{0}, reads{0}, waits{0}, enumerations{0};
    // Uses of a handle that was not open, and closes of a handle still inside a call.
    std::atomic<int> violations{0};

    std::vector<hid::DeviceRecord> enumerate() override;
    hid::Handle open(const std::string& path, bool readWrite) override;
    void close(hid::Handle handle) override;
    void abandon(hid::Handle handle) override;
    bool write(hid::Handle handle, std::span<const uint8_t> report,
               std::chrono::milliseconds timeout) override;
    hid::ReadResult read(hid::Handle handle, std::span<uint8_t> buffer) override;
    bool setOutputReport(hid::Handle handle, std::span<const uint8_t> report) override;
    bool getInputReport(hid::Handle handle, std::span<uint8_t> report) override;
    bool setFeatureReport(hid::Handle handle, std::span<const uint8_t> report) override;
    bool getFeatureReport(hid::Handle handle, std::span<uint8_t> report) override;
    hid::WaitStatus wait(hid::Handle handle) override;
    void wake() override;

private:
    struct Device {
        std::deque<Bytes> queue;
        bool gone = false;
    };
    struct OpenHandle {
        std::string path;
        int busy = 0; // calls in progress on it
    };
    // Marks a call on `handle` as started; nullptr (and a violation) when it is not open.
    OpenHandle* enter(hid::Handle handle);
    void leave(hid::Handle handle);
    bool record(const char* op, hid::Handle handle, std::span<const uint8_t> bytes);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<hid::DeviceRecord> devices_;
    std::set<std::string> refused_;
    std::map<std::string, Device> state_;
    std::map<hid::Handle, OpenHandle> handles_;
    hid::Handle nextHandle_ = 100;
    bool woken_ = false;
    std::chrono::microseconds readDelay_{0};
    Bytes getReply_;
    std::vector<Transfer> transfers_;
    std::vector<hid::Handle> abandoned_;
};

} // namespace hidtest

#endif
