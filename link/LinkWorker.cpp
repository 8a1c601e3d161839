// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinkWorker.h"

#include <pthread.h>

namespace qx {

// Normal priority: the worker sleeps until there is work, so it takes no time from others while
// idle, and an idle class would hold back a settings write or an update block behind any busy
// program.
Tthr::Tthr(LinkState& link, HidPort& port, std::function<void()> redraw, ErrorSink* errors)
    : link_(link), port_(port), redraw_(std::move(redraw)), errors_(errors),
      thread_([this](std::stop_token st) { execute(st); }) {}

Tthr::~Tthr() {
    requestStop();
    join();
}

void Tthr::requestStop() {
    thread_.request_stop();
    link_.wakeWorker();
}

void Tthr::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool Tthr::running() const {
    return running_.load();
}

void Tthr::execute(std::stop_token stop) {
    pthread_setname_np(pthread_self(), "qx-link");
    for (;;) {
        LinkState::Work work = link_.nextWork(stop);
        if (work.stop) {
            break;
        }
        if (work.job) {
            if (work.job->repeat) {
                link_.counters.resends.fetch_add(1, std::memory_order_relaxed);
            }
            const uint8_t sent = sendFrame(link_, port_, work.job->request, errors_, stop);
            link_.finishJob(*work.job, sent > 0);
        }
        if (work.redraw && redraw_) {
            redraw_();
        }
    }
    // Nobody will take posts any more: release whoever waits on one.
    link_.shutdown();
    running_ = false;
}

} // namespace qx
