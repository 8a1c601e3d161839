// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/UnitLock.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::cli {

// The folder is the user's own, so the name needs no user id.
UnitLock::UnitLock(std::string dir) : path_(std::move(dir) + "/qx77zt-unit.lock") {}

UnitLock::~UnitLock() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_)); // releases the lock
    }
}

UnitLock::Result UnitLock::take(std::string_view holder, std::chrono::milliseconds patience) {
    // O_NOFOLLOW: a link at the lock's name is never followed to another file.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = "cannot open " + path_ + ": " + std::strerror(errno);
        return Result::Failed;
    }
    handle_ = fd;
    // A file someone else made there is neither locked nor read.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        error_ = path_ + " is not a file of this user; not used";
        return Result::Failed;
    }
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error_ = "cannot lock " + path_ + ": " + std::strerror(errno);
            return Result::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            char text[64] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            holder_ = printableText({text, n > 0 ? static_cast<std::size_t>(n) : 0});
            return Result::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, holder.data(), holder.size(), 0);
    }
    return Result::Taken;
}

} // namespace qx::cli
