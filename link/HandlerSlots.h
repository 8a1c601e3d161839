// SPDX-License-Identifier: GPL-3.0-or-later
// The library's input and device-change handlers are plain C functions without a context
// argument, and every loaded copy of the library needs its own pair. A fixed table of slots
// holds one generated pair per slot; each slot forwards to what its owner set in it.
//
// Safe against the library's threads: a handler call holds its slot's lock (one for input, one
// for device changes) for as long as it runs, so setReceiver, setChangeHandler and the
// destructor wait for a call in progress on another thread and never pull a target from under
// it. A change handler may re-target or release its own slot from inside the call (the function
// it runs stays alive until it returns); a receiver must not re-target its own slot.
#pragma once

#include "hidlib/HID_Lib.h"
#include "link/Transport.h"

#include <functional>

namespace qx {

inline constexpr int kHandlerSlots = 16;

// One bound library copy's pair of handlers, claimed for as long as the copy is bound.
class HandlerSlot {
public:
    HandlerSlot();  // claims a free slot; valid() is false when all are taken
    ~HandlerSlot(); // releases it
    HandlerSlot(const HandlerSlot&) = delete;
    HandlerSlot& operator=(const HandlerSlot&) = delete;

    bool valid() const { return index_ >= 0; }
    int index() const { return index_; }
    // Null when the slot is not valid.
    THIDinputHandler inputHandler() const;         // forwards to the receiver set here
    THIDdeviceChangeHandler changeHandler() const; // calls the function set here
    void setReceiver(Receiver* receiver);          // null: reports are dropped
    // Empty: changes are dropped. Runs on the thread the library reports changes on.
    void setChangeHandler(std::function<void()> onChange);

private:
    int index_ = -1;
};

} // namespace qx
