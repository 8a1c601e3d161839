// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and replacing the state files with POSIX calls.
#include "state/StateFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <stdio.h> // renameat2
#include <sys/stat.h>
#include <unistd.h>

namespace qx::state {

namespace {

std::string systemError(const char* what, int err) {
    return std::string(what) + ": " + std::strerror(err);
}

// Closes the descriptor it holds when it goes.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::filesystem::path stateFolderFromEnvironment(const char* folder) {
    return stateFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"), folder);
}

WriteOutcome replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    if (path.empty() || !path.has_filename()) {
        return {false, "no place to keep the file"};
    }
    const std::filesystem::path folder = path.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        return {false, "cannot create " + folder.string() + ": " + ec.message()};
    }
    ::chmod(folder.c_str(), 0700); // the update history and settings are the user's own

    std::string temp = path.string() + ".XXXXXX";
    Fd file{::mkstemp(temp.data())};
    if (file.fd < 0) {
        return {false, systemError(("cannot create a file in " + folder.string()).c_str(), errno)};
    }
    const auto fail = [&](const char* what) {
        const int err = errno;
        ::unlink(temp.c_str());
        return WriteOutcome{false, systemError(what, err)};
    };
    if (::fchmod(file.fd, 0600) != 0 || !writeAll(file.fd, bytes)) {
        return fail("cannot write the file");
    }
    // The data must be on the disk before the name points at it, or a power loss could leave
    // the new name on an empty file.
    if (::fsync(file.fd) != 0) {
        return fail("cannot flush the file");
    }
    if (::close(file.fd) != 0) {
        file.fd = -1;
        return fail("cannot write the file");
    }
    file.fd = -1;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        return fail("cannot replace the file");
    }
    // The rename itself is made durable by flushing the folder.
    Fd dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) {
        ::fsync(dir.fd);
    }
    return {true, {}};
}

ReadOutcome readStateFile(const std::filesystem::path& path, std::size_t maxBytes) {
    ReadOutcome out;
    Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
    if (file.fd < 0) {
        if (errno == ENOENT) {
            return out;
        }
        out.status = ReadOutcome::Status::Failed;
        out.error = systemError("cannot open the file", errno);
        return out;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out.status = ReadOutcome::Status::Failed;
        out.error = "not a regular file";
        return out;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        out.status = ReadOutcome::Status::TooLarge;
        out.error = "the file is larger than such a file can be";
        return out;
    }
    std::vector<std::uint8_t> bytes(maxBytes + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            out.status = ReadOutcome::Status::Failed;
            out.error = systemError("cannot read the file", errno);
            return out;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got > maxBytes) { // grew since fstat
        out.status = ReadOutcome::Status::TooLarge;
        out.error = "the file is larger than such a file can be";
        return out;
    }
    bytes.resize(got);
    out.status = ReadOutcome::Status::Read;
    out.bytes = std::move(bytes);
    return out;
}

MoveResult moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                                std::string& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return MoveResult::Moved;
    }
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // A file system that cannot rename without replacing: a second name, made only where
        // none is, then the first name removed.
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return MoveResult::Moved;
        }
        err = errno;
    }
    if (err == EEXIST) {
        return MoveResult::TargetExists;
    }
    error = std::strerror(err);
    return MoveResult::Failed;
}

} // namespace qx::state
