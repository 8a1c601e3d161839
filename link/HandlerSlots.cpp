// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/HandlerSlots.h"

#include <array>
#include <memory>
#include <mutex>
#include <utility>

namespace qx {

namespace {

struct SlotTargets {
    std::mutex inputMutex;
    Receiver* receiver = nullptr; // guarded by inputMutex
    // Recursive: a change handler may run a nested event loop in which the next change of the
    // same copy arrives, or re-target its own slot.
    std::recursive_mutex changeMutex;
    std::shared_ptr<const std::function<void()>> onChange; // guarded by changeMutex
};

std::array<SlotTargets, kHandlerSlots> targets;
std::mutex claimMutex;
std::array<bool, kHandlerSlots> claimed{}; // guarded by claimMutex

template <int I>
void HID_LIB_CALL inputTrampoline(THIDreport report, uint8_t count) {
    SlotTargets& t = targets[I];
    std::lock_guard lock(t.inputMutex);
    if (t.receiver != nullptr) {
        t.receiver->onInputReport(report, count);
    }
}

template <int I>
void HID_LIB_CALL changeTrampoline() {
    SlotTargets& t = targets[I];
    std::lock_guard lock(t.changeMutex);
    // A copy: the handler may replace the slot's function while it runs.
    const std::shared_ptr<const std::function<void()>> run = t.onChange;
    if (run && *run) {
        try {
            (*run)();
        } catch (...) {
            // The library's thread must not see it; the next change is followed as usual.
        }
    }
}

template <int... I>
constexpr std::array<THIDinputHandler, kHandlerSlots> inputTable(std::integer_sequence<int, I...>) {
    return {&inputTrampoline<I>...};
}

template <int... I>
constexpr std::array<THIDdeviceChangeHandler, kHandlerSlots>
changeTable(std::integer_sequence<int, I...>) {
    return {&changeTrampoline<I>...};
}

constexpr auto inputHandlers = inputTable(std::make_integer_sequence<int, kHandlerSlots>{});
constexpr auto changeHandlers = changeTable(std::make_integer_sequence<int, kHandlerSlots>{});

} // namespace

HandlerSlot::HandlerSlot() {
    std::lock_guard lock(claimMutex);
    for (int i = 0; i < kHandlerSlots; ++i) {
        if (!claimed[static_cast<std::size_t>(i)]) {
            claimed[static_cast<std::size_t>(i)] = true;
            index_ = i;
            return;
        }
    }
}

HandlerSlot::~HandlerSlot() {
    if (!valid()) {
        return;
    }
    // Waits for calls in progress, so the next owner starts with an idle slot.
    setReceiver(nullptr);
    setChangeHandler({});
    std::lock_guard lock(claimMutex);
    claimed[static_cast<std::size_t>(index_)] = false;
}

THIDinputHandler HandlerSlot::inputHandler() const {
    return valid() ? inputHandlers[static_cast<std::size_t>(index_)] : nullptr;
}

THIDdeviceChangeHandler HandlerSlot::changeHandler() const {
    return valid() ? changeHandlers[static_cast<std::size_t>(index_)] : nullptr;
}

void HandlerSlot::setReceiver(Receiver* receiver) {
    if (!valid()) {
        return;
    }
    SlotTargets& t = targets[static_cast<std::size_t>(index_)];
    std::lock_guard lock(t.inputMutex);
    t.receiver = receiver;
}

void HandlerSlot::setChangeHandler(std::function<void()> onChange) {
    if (!valid()) {
        return;
    }
    auto next =
        onChange ? std::make_shared<const std::function<void()>>(std::move(onChange)) : nullptr;
    SlotTargets& t = targets[static_cast<std::size_t>(index_)];
    std::shared_ptr<const std::function<void()>> old;
    {
        std::lock_guard lock(t.changeMutex);
        old = std::exchange(t.onChange, std::move(next));
    }
    // `old` goes here, outside the lock (or after a running call of it on this thread ends).
}

} // namespace qx
