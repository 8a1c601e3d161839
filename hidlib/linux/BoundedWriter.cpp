#include "hidlib/linux/BoundedWriter.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
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

BoundedWriter::BoundedWriter() : BoundedWriter(writeBeforeDeadline) {}

BoundedWriter::BoundedWriter(WriteOnce writeOnce) : writeOnce_(std::move(writeOnce)) {}

BoundedWriter::~BoundedWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (queued_)
        ::close(queued_->fd);
}

bool BoundedWriter::write(int fd, std::span<const uint8_t> report,
                          std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    // One write at a time, in the order the callers come: a stalled one is waited for.
    if (!changed_.wait_until(lock, deadline,
                             [&] { return stopping_ || (!queued_ && !writing_); }) ||
        stopping_)
        return false;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return false;
    auto outcome = std::make_shared<Outcome>();
    queued_ = Job{own, std::vector<uint8_t>(report.begin(), report.end()), deadline, outcome};
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    changed_.notify_all();
    return changed_.wait_until(lock, deadline, [&] { return outcome->done; }) && outcome->written;
}

void BoundedWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || queued_.has_value(); });
        if (stopping_)
            return;
        Job job = std::move(*queued_);
        queued_.reset();
        writing_ = true;
        lock.unlock();
        // A job whose caller has already given up is not written late.
        const bool written =
            Clock::now() < job.deadline && writeOnce_(job.fd, job.bytes, job.deadline);
        ::close(job.fd);
        lock.lock();
        writing_ = false;
        job.outcome->done = true;
        job.outcome->written = written;
        changed_.notify_all();
    }
}

} // namespace hid
