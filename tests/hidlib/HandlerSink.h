// SPDX-License-Identifier: GPL-3.0-or-later
// The C callbacks carry no context, so tests collect what they receive here; reset() before use.
#ifndef QX_TESTS_HIDLIB_HANDLERSINK_H
#define QX_TESTS_HIDLIB_HANDLERSINK_H

#include "hidlib/HID_Lib.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace hidtest {

struct Received {
    THIDreport report;
    uint8_t count;
    std::thread::id thread;
};

class HandlerSink {
public:
    static HandlerSink& instance();

    void reset();
    // Runs inside the input handler after the report is stored (on the reader thread).
    void setHook(std::function<void()> hook);
    std::vector<Received> received() const;
    size_t size() const;
    // Waits until at least n reports arrived; false on timeout.
    bool waitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    static void HID_LIB_CALL onInput(THIDreport report, uint8_t count);

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<Received> received_;
    std::function<void()> hook_;
};

} // namespace hidtest

#endif
