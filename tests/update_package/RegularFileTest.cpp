// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/RegularFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qx {
namespace {

namespace fs = std::filesystem;

class RegularFileOpen : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qx_regular_file_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        std::ofstream(dir_ / "plain") << "bytes";
        fs::create_symlink(dir_ / "plain", dir_ / "link");
        ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
        socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(socket_, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (dir_ / "sock").string();
        ASSERT_LT(path.size(), sizeof address.sun_path);
        path.copy(address.sun_path, path.size());
        ASSERT_EQ(::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    void TearDown() override {
        ::close(socket_);
        fs::remove_all(dir_);
    }

    fs::path dir_;
    int socket_ = -1;
};

TEST_F(RegularFileOpen, OpensOnlyRegularFilesAndNeverBlocks) {
    constexpr int kRead = O_RDONLY;
    constexpr int kWrite = O_WRONLY | O_CREAT | O_TRUNC;
    const struct {
        std::string path;
        int flags;
        int error;          // 0: opened
        const char* reason; // part of error()
    } cases[] = {
        {"plain", kRead, 0, ""},
        {"plain", kWrite, 0, ""},
        {"link", kRead, 0, ""}, // a link to a regular file is that file
        {"new", kWrite, 0, ""},
        {"missing", kRead, ENOENT, "No such file or directory"},
        {".", kRead, EISDIR, "Is a directory"},
        {".", kWrite, EISDIR, "Is a directory"},
        // Opening a pipe blocks until its other end is opened; a write open would too.
        {"pipe", kRead, ENOTSUP, "Not a regular file: it is a named pipe"},
        {"pipe", kWrite, ENOTSUP, "Not a regular file: it is a named pipe"},
        {"sock", kRead, ENOTSUP, "Not a regular file: it is a socket"},
        {"/dev/zero", kRead, ENOTSUP, "Not a regular file: it is a character device"},
        {"/dev/null", kWrite, ENOTSUP, "Not a regular file: it is a character device"},
    };
    for (const auto& c : cases) {
        const fs::path path = c.path.starts_with('/') ? fs::path(c.path) : dir_ / c.path;
        SCOPED_TRACE(path.string() + ((c.flags & O_WRONLY) ? " for writing" : " for reading"));
        const RegularFile file = RegularFile::open(path.string(), c.flags);
        EXPECT_EQ(file.ok(), c.error == 0) << file.error();
        EXPECT_EQ(file.errorNumber(), c.error);
        EXPECT_NE(file.error().find(c.reason), std::string::npos) << file.error();
        if (file.ok()) {
            EXPECT_TRUE(file.error().empty());
            // The descriptor blocks as usual, and a program started later does not inherit it.
            EXPECT_EQ(::fcntl(file.fd(), F_GETFL) & O_NONBLOCK, 0);
            EXPECT_NE(::fcntl(file.fd(), F_GETFD) & FD_CLOEXEC, 0);
        }
    }
    EXPECT_TRUE(fs::is_regular_file(dir_ / "new"));
    EXPECT_EQ(fs::file_size(dir_ / "plain"), 0u) << "opened for writing, truncated";
}

TEST_F(RegularFileOpen, MovedOrReleasedDescriptorIsClosedOnce) {
    RegularFile first = RegularFile::open((dir_ / "plain").string(), O_RDONLY);
    ASSERT_TRUE(first.ok());
    const int fd = first.fd();
    RegularFile second = std::move(first);
    EXPECT_FALSE(first.ok()); // NOLINT(bugprone-use-after-move): a moved-from file owns nothing
    EXPECT_EQ(second.fd(), fd);
    const int released = second.release();
    EXPECT_FALSE(second.ok());
    { RegularFile gone = std::move(second); }
    EXPECT_EQ(::fcntl(released, F_GETFD) >= 0, true) << "released descriptors stay open";
    ::close(released);
}

} // namespace
} // namespace qx
