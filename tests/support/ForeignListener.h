// SPDX-License-Identifier: GPL-3.0-or-later
// A local socket listened on by another user (nobody, 65534), as another user of the machine may
// have made one where this user's programs look. Making a process of another user needs root: the
// cases that use it skip otherwise.
#pragma once

#include <string>

#include <csignal>
#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qx::test {

class ForeignListener {
public:
    static constexpr uid_t kUid = 65534;
    static bool possible() { return ::geteuid() == 0; }

    // Listens on `path`, whose folder the other user may write to, and reads whatever a client
    // sends until it leaves. ready() tells whether it listens.
    explicit ForeignListener(const std::string& path) {
        int ready[2];
        if (path.size() >= sizeof(sockaddr_un::sun_path) || ::pipe(ready) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only system calls from here on: the test process has threads.
            ::close(ready[0]);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            for (std::size_t i = 0; i < path.size(); ++i) {
                address.sun_path[i] = path[i];
            }
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setgroups(0, nullptr) != 0 || ::setgid(kUid) != 0 || ::setuid(kUid) != 0 ||
                fd < 0 ||
                ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
                ::listen(fd, 8) != 0) {
                ::_exit(1);
            }
            const char yes = 1;
            [[maybe_unused]] const ssize_t n = ::write(ready[1], &yes, 1);
            for (;;) {
                const int peer = ::accept(fd, nullptr, nullptr);
                char buffer[256];
                while (peer >= 0 && ::read(peer, buffer, sizeof buffer) > 0) {
                }
                ::close(peer);
            }
        }
        ::close(ready[1]);
        char yes = 0;
        ready_ = pid_ > 0 && ::read(ready[0], &yes, 1) == 1;
        ::close(ready[0]);
    }
    ~ForeignListener() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    bool ready() const { return ready_; }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

} // namespace qx::test
