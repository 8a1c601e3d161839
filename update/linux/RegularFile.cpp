// SPDX-License-Identifier: GPL-3.0-or-later
// Opening with POSIX calls: the kind of file is looked at before and after the open.
#include "update/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx {

namespace {

// What the operator reads when a file of the wrong kind is picked.
std::string kindReason(mode_t mode) {
    if (S_ISDIR(mode)) {
        return std::strerror(EISDIR);
    }
    const char* kind = S_ISFIFO(mode)   ? "a named pipe"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                                        : "of an unknown kind";
    return std::string("Not a regular file: it is ") + kind;
}

} // namespace

RegularFile RegularFile::open(const std::string& path, int flags, unsigned mode) {
    RegularFile file;
    const auto refuse = [&file](int err, std::string reason) {
        file.errno_ = err;
        file.error_ = std::move(reason);
        return std::move(file);
    };
    // Looked at before opening: opening a device may already act on it (a modem hangs up, a
    // tape rewinds), and a pipe would block.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return refuse(S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP, kindReason(st.st_mode));
    }
    // Non-blocking and looked at again once open: the name may have been given to a pipe in
    // between.
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) {
        const int err = errno;
        return refuse(err, std::strerror(err));
    }
    file.fd_ = fd;
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        file.reset();
        return refuse(err, std::strerror(err));
    }
    if (!S_ISREG(st.st_mode)) {
        file.reset();
        return refuse(S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP, kindReason(st.st_mode));
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
        const int err = errno;
        file.reset();
        return refuse(err, std::strerror(err));
    }
    return file;
}

void RegularFile::reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace qx
