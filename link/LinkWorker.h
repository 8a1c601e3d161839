// SPDX-License-Identifier: GPL-3.0-or-later
// The link worker: the one thread that sends anything to the unit. It sleeps until a request is
// posted, an answer asks for a redraw, an unacknowledged settings write falls due again, or its
// next status poll falls due (LinkState::setStatusPolling).
#pragma once

#include "link/HidPort.h"
#include "link/LinkState.h"
#include "link/Transport.h"

#include <functional>
#include <thread>

namespace qx {

class Tthr {
public:
    // `redraw` is called on the worker thread for every stored answer; it must hand the redraw
    // to the user interface thread without waiting for it, so that a user interface thread
    // waiting on the mailbox can never deadlock with the worker.
    Tthr(LinkState& link, HidPort& port, std::function<void()> redraw, ErrorSink* errors = nullptr);
    ~Tthr();
    Tthr(const Tthr&) = delete;
    Tthr& operator=(const Tthr&) = delete;

    // Sets the terminate request; the loop ends after the pass in progress. Does not wait.
    void requestStop();
    // Waits for the loop to end.
    void join();
    bool running() const;

private:
    void execute(std::stop_token stop);

    LinkState& link_;
    HidPort& port_;
    std::function<void()> redraw_;
    ErrorSink* errors_;
    std::atomic<bool> running_{true};
    std::jthread thread_;
};

} // namespace qx
