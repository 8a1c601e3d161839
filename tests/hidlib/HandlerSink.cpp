// SPDX-License-Identifier: GPL-3.0-or-later
#include "HandlerSink.h"

namespace hidtest {

HandlerSink& HandlerSink::instance() {
    static HandlerSink sink;
    return sink;
}

void HandlerSink::reset() {
    std::lock_guard lock(mutex_);
    received_.clear();
    hook_ = nullptr;
}

void HandlerSink::setHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

std::vector<Received> HandlerSink::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

size_t HandlerSink::size() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

bool HandlerSink::waitFor(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= n; });
}

void HID_LIB_CALL HandlerSink::onInput(THIDreport report, uint8_t count) {
    HandlerSink& sink = instance();
    std::function<void()> hook;
    {
        std::lock_guard lock(sink.mutex_);
        sink.received_.push_back({report, count, std::this_thread::get_id()});
        hook = sink.hook_;
    }
    sink.arrived_.notify_all();
    if (hook)
        hook();
}

} // namespace hidtest
