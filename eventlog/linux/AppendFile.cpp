// SPDX-License-Identifier: GPL-3.0-or-later
// Appending to the daily files with POSIX calls.
#include "eventlog/AppendFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::eventlog {

namespace {

std::string systemError(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

void syncFolder(const std::filesystem::path& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace

AppendFile::~AppendFile() {
    close();
}

bool AppendFile::isOpen() const {
    return handle_ >= 0;
}

void AppendFile::close() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
        handle_ = -1;
    }
}

bool AppendFile::open(const std::filesystem::path& path, std::string& error) {
    close();
    // No following a link planted under the name, and no waiting on a pipe put there.
    constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    bool created = false;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) { // made by another program just now
            fd = ::open(path.c_str(), kFlags);
        }
    }
    if (fd < 0) {
        const int err = errno;
        error = err == ELOOP ? path.string() + " is a symbolic link, not written"
                             : systemError("cannot open " + path.string(), err);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path.string() + " is not a regular file, not written";
        return false;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    endedWithNewline_ = true;
    if (size_ > 0) {
        char last = 0;
        if (::pread(fd, &last, 1, static_cast<off_t>(size_ - 1)) != 1 || last != '\n') {
            endedWithNewline_ = false;
        }
    }
    if (created) {
        syncFolder(path.parent_path());
    }
    handle_ = fd;
    return true;
}

bool AppendFile::append(std::string_view bytes, std::string& error) {
    if (handle_ < 0) {
        error = "the file is not open";
        return false;
    }
    ssize_t n;
    do {
        n = ::write(static_cast<int>(handle_), bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error = systemError("cannot write the event log", errno);
        return false;
    }
    size_ += static_cast<std::uint64_t>(n);
    if (static_cast<std::size_t>(n) != bytes.size()) {
        // A short write to a regular file: the disk is full, or a size limit was reached.
        error = "cannot write the event log: the disk is full";
        return false;
    }
    return true;
}

bool AppendFile::sync(std::string& error) {
    if (handle_ < 0) {
        return true;
    }
    if (::fdatasync(static_cast<int>(handle_)) != 0) {
        error = systemError("cannot flush the event log", errno);
        return false;
    }
    return true;
}

bool makePrivateFolder(const std::filesystem::path& folder, std::string& error) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        error = folder.string() + " is not a folder";
        return false;
    }
    if (folder.has_parent_path() && folder.parent_path() != folder &&
        !makePrivateFolder(folder.parent_path(), error)) {
        return false;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = systemError("cannot create " + folder.string(), errno);
        return false;
    }
    return true;
}

} // namespace qx::eventlog
