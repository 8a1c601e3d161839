// SPDX-License-Identifier: GPL-3.0-or-later
// The handler only writes the signal's number into a pipe that a QSocketNotifier watches. The
// pipe is the process's own and stays open to its end, so a signal that comes late never writes
// to a descriptor that has since been reused.
#include "app/QuitOnSignal.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace qx {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int readEnd = -1;
// Read by the handler, on whatever thread the signal lands.
std::atomic<int> writeEnd{-1};

bool ensurePipe() {
    static const bool made = [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            return false;
        }
        readEnd = fds[0];
        writeEnd.store(fds[1], std::memory_order_release);
        return true;
    }();
    return made;
}

// Async-signal-safe: one write() of the signal's number; errno is left as it was found.
void onSignal(int signal) {
    const int savedErrno = errno;
    const auto number = static_cast<unsigned char>(signal);
    const int fd = writeEnd.load(std::memory_order_acquire);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

// Everything waiting in the pipe, as signal numbers.
std::vector<int> takePending() {
    std::vector<int> numbers;
    unsigned char buffer[16];
    for (;;) {
        const ssize_t n = ::read(readEnd, buffer, sizeof buffer);
        if (n > 0) {
            numbers.insert(numbers.end(), buffer, buffer + n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return numbers; // empty (EAGAIN)
        }
    }
}

} // namespace

struct QuitOnSignal::Hook {
    struct Previous {
        int signal;
        struct sigaction action;
    };
    std::vector<Previous> previous;
};

QuitOnSignal::QuitOnSignal(QObject* parent) : QObject(parent), hook_(std::make_unique<Hook>()) {
    if (!ensurePipe()) {
        qWarning("Cannot watch for the end of the session: %s", std::strerror(errno));
        return;
    }
    // Arrivals from before this object are not for it.
    takePending();
    auto* notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { deliver(takePending()); });

    for (const int signal : kSignals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) != 0 ||
            ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_IGN)) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(signal, &action, &old) == 0) {
            hook_->previous.push_back({signal, old});
        }
    }
}

QuitOnSignal::~QuitOnSignal() {
    for (auto it = hook_->previous.rbegin(); it != hook_->previous.rend(); ++it) {
        ::sigaction(it->signal, &it->action, nullptr);
    }
}

} // namespace qx
