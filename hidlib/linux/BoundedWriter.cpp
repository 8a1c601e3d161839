// SPDX-License-Identifier: GPL-3.0-or-later
#include "hidlib/linux/BoundedWriter.h"

#include <algorithm>
#include <cerrno>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace hid {

bool writeBeforeDeadline(int fd, std::span<const uint8_t> report,
                         BoundedWriter::Clock::time_point deadline) {
    using namespace std::chrono;
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - BoundedWriter::Clock::now());
        pollfd p{fd, POLLOUT, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::max<milliseconds::rep>(left.count(), 0)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
            (p.revents & POLLOUT) == 0)
            return false;
        const ssize_t written = ::write(fd, report.data(), report.size());
        if (written >= 0)
            return true;
        // EAGAIN: the room was taken meanwhile; look again while time is left.
        if (errno != EINTR && errno != EAGAIN)
            return false;
        if (errno == EAGAIN && BoundedWriter::Clock::now() >= deadline)
            return false;
    }
}

void keepThisCodeLoaded() {
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info info{};
        link_map* object = nullptr;
        if (dladdr1(reinterpret_cast<void*>(&keepThisCodeLoaded), &info,
                    reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP) == 0 ||
            object == nullptr || object->l_name == nullptr || object->l_name[0] == '\0')
            return; // part of the program: loaded until it ends anyway
        // Found by its name among the loaded objects, not opened again.
        if (void* self = dlopen(object->l_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE))
            dlclose(self);
    });
}

BoundedWriter::BoundedWriter() : BoundedWriter(writeBeforeDeadline) {}

BoundedWriter::BoundedWriter(WriteOnce writeOnce, std::chrono::milliseconds stopWait)
    : writeOnce_(std::move(writeOnce)), stopWait_(stopWait) {}

BoundedWriter::~BoundedWriter() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    if (state_->queued) {
        ::close(state_->queued->fd);
        state_->queued.reset();
    }
    state_->changed.notify_all();
    state_->jobQueued.notify_one();
    const bool idle = state_->changed.wait_for(lock, stopWait_, [&] { return !state_->writing; });
    lock.unlock();
    if (!thread_.joinable())
        return;
    if (idle) {
        thread_.join();
        return;
    }
    // The kernel holds the report until its own timeout; the thread ends by itself after it.
    keepThisCodeLoaded();
    thread_.detach();
}

bool BoundedWriter::write(int fd, std::span<const uint8_t> report,
                          std::chrono::milliseconds timeout) {
    return send(fd, report, timeout, writeOnce_);
}

bool BoundedWriter::send(int fd, std::span<const uint8_t> report, std::chrono::milliseconds timeout,
                         const WriteOnce& sendOnce) {
    const Clock::time_point deadline = Clock::now() + timeout;
    State& state = *state_;
    auto outcome = std::make_shared<Outcome>();
    outcome->fd = fd;
    std::unique_lock lock(state.mutex);
    state.callers.push_back(outcome);
    struct Leave {
        State& state;
        const std::shared_ptr<Outcome>& outcome;
        ~Leave() { std::erase(state.callers, outcome); }
    } leave{state, outcome}; // runs with the lock held: declared after it
    // One report at a time, in the order the callers come: a stalled one is waited for.
    const Clock::time_point turnBy =
        state.stalled ? std::min(deadline, Clock::now() + kBehindAStall) : deadline;
    if (!state.changed.wait_until(lock, turnBy,
                                  [&] {
                                      return state.stopping || outcome->abandoned ||
                                             (!state.queued && !state.writing);
                                  }) ||
        state.stopping || outcome->abandoned)
        return false;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return false;
    state.queued =
        Job{own, std::vector<uint8_t>(report.begin(), report.end()), deadline, sendOnce, outcome};
    if (!thread_.joinable())
        thread_ = std::thread([shared = state_] { run(shared); });
    // Only the thread waits for a job; other callers wait for a free turn, which this is not.
    state.jobQueued.notify_one();
    if (state.changed.wait_until(lock, deadline,
                                 [&] { return outcome->done || outcome->abandoned; }) &&
        outcome->done)
        return outcome->written;
    if (state.queued && state.queued->outcome == outcome) {
        // Not started yet: it never goes out.
        ::close(state.queued->fd);
        state.queued.reset();
        state.changed.notify_all();
        return false;
    }
    // Given up on while under way: the thread may yet have to outlive the writer.
    state.stalled = true;
    lock.unlock();
    keepThisCodeLoaded();
    lock.lock();
    return false;
}

void BoundedWriter::abandon(int fd) {
    std::lock_guard lock(state_->mutex);
    for (const auto& caller : state_->callers)
        if (caller->fd == fd)
            caller->abandoned = true;
    state_->changed.notify_all();
}

void BoundedWriter::run(const std::shared_ptr<State>& shared) {
    State& state = *shared;
    std::unique_lock lock(state.mutex);
    for (;;) {
        state.jobQueued.wait(lock, [&] { return state.stopping || state.queued.has_value(); });
        if (state.stopping)
            return;
        Job job = std::move(*state.queued);
        state.queued.reset();
        state.writing = true;
        lock.unlock();
        // A job whose caller has already given up is not written late.
        const bool written =
            Clock::now() < job.deadline && job.sendOnce(job.fd, job.bytes, job.deadline);
        ::close(job.fd);
        lock.lock();
        state.writing = false;
        state.stalled = false;
        job.outcome->done = true;
        job.outcome->written = written;
        // Notified after the lock is let go, so that a woken caller does not wait for it; the
        // state is kept alive by this thread's share of it.
        lock.unlock();
        state.changed.notify_all();
        lock.lock();
    }
}

} // namespace hid
