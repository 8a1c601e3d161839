#include "cli/UnitLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qx::cli {

UnitLock::UnitLock(std::string dir)
    : path_(std::move(dir) + "/qx77zt-unit-" + std::to_string(::getuid()) + ".lock") {}

UnitLock::~UnitLock() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_)); // releases the lock
    }
}

std::string UnitLock::defaultDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') {
        return runtime;
    }
    std::error_code ignored;
    return std::filesystem::temp_directory_path(ignored).string();
}

UnitLock::Result UnitLock::take(const std::string& command, std::chrono::milliseconds patience) {
    // O_NOFOLLOW: in a shared temporary folder, a link planted by another user must not be
    // followed to a file of theirs.
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error_ = "cannot open " + path_ + ": " + std::strerror(errno);
        return Result::Failed;
    }
    handle_ = fd;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error_ = "cannot lock " + path_ + ": " + std::strerror(errno);
            return Result::Failed;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            char text[64] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            holder_.assign(text, n > 0 ? static_cast<std::size_t>(n) : 0);
            return Result::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, command.data(), command.size(), 0);
    }
    return Result::Taken;
}

} // namespace qx::cli
