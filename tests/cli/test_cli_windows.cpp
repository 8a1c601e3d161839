// SPDX-License-Identifier: GPL-3.0-or-later
// What qx77zt stands on under Windows: the lock between two copies, the state files kept by
// UTF-16 name, the package hash from the system, and opening only regular files.
#include "cli/UnitLock.h"
#include "state/StateFiles.h"
#include "state/Utf8Path.h"
#include "update/RegularFile.h"
#include "update/UpdateLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <io.h>
#include <string>

namespace {

using namespace std::chrono_literals;

std::span<const std::uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A private folder per test whose name is not plain ASCII, as a user's name often is not.
class WindowsFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::filesystem::temp_directory_path() /
               qx::utf8Path("qx-t\xC3\xA9st-" + std::to_string(GetCurrentProcessId()) + "-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(root);
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    std::size_t entries(const std::filesystem::path& folder) const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(folder), {}));
    }

    std::filesystem::path root;
};

using UnitLockWindows = WindowsFolderTest;

TEST_F(UnitLockWindows, SecondCopyWaitsAndReadsWhatTheFirstDoes) {
    const std::string dir = qx::utf8Text(root);
    auto first = std::make_unique<qx::cli::UnitLock>(dir);
    ASSERT_EQ(first->take("status", 0ms), qx::cli::UnitLock::Result::Taken) << first->error();

    qx::cli::UnitLock second(dir);
    EXPECT_EQ(second.take("update", 120ms), qx::cli::UnitLock::Result::Busy) << second.error();
    // The lock must not keep the holder's command from being read.
    EXPECT_EQ(second.holder(), "status");

    first.reset();
    qx::cli::UnitLock third(dir);
    EXPECT_EQ(third.take("set", 0ms), qx::cli::UnitLock::Result::Taken) << third.error();
}

using StateFilesWindows = WindowsFolderTest;

TEST_F(StateFilesWindows, ReplacedWholeAndReadBackByUtf16Name) {
    const auto file = root / "made" / "update-journal";
    ASSERT_TRUE(qx::state::replaceFile(file, bytesOf("old\n")).ok);
    const qx::state::WriteOutcome w = qx::state::replaceFile(file, bytesOf("new\n"));
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(entries(root / "made"), 1u) << "no temporary file is left beside it";

    const qx::state::ReadOutcome r = qx::state::readStateFile(file, 100);
    ASSERT_EQ(r.status, qx::state::ReadOutcome::Status::Read) << r.error;
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), "new\n");
}

TEST_F(StateFilesWindows, WhatIsNoStateFileIsRefusedOrMissing) {
    using Status = qx::state::ReadOutcome::Status;
    qx::state::replaceFile(root / "big", bytesOf(std::string(101, 'x')));
    std::filesystem::create_directories(root / "folder");
    struct Case {
        std::filesystem::path path;
        Status expected;
    };
    for (const Case& c : {Case{root / "absent", Status::Missing},
                          Case{root / "no-folder" / "absent", Status::Missing},
                          Case{root / "big", Status::TooLarge},
                          Case{root / "folder", Status::Failed}, Case{"NUL", Status::Failed}}) {
        const qx::state::ReadOutcome r = qx::state::readStateFile(c.path, 100);
        EXPECT_EQ(r.status, c.expected) << qx::utf8Text(c.path) << ": " << r.error;
        EXPECT_EQ(r.error.empty(), c.expected == Status::Missing) << qx::utf8Text(c.path);
    }
}

TEST_F(StateFilesWindows, FailedReplaceKeepsTheFolderAsItWas) {
    std::filesystem::create_directories(root / "in-the-way" / "inside");
    const qx::state::WriteOutcome w = qx::state::replaceFile(root / "in-the-way", bytesOf("x"));
    EXPECT_FALSE(w.ok);
    EXPECT_FALSE(w.error.empty());
    EXPECT_EQ(entries(root), 1u) << "the new file is not left lying about";
}

TEST(PackageHashWindows, KnownDigests) {
    struct Case {
        std::string input;
        const char* digest;
    };
    for (const Case& c : {
             Case{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             Case{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             Case{std::string(1000000, 'a'),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
         }) {
        EXPECT_EQ(qx::sha256Hex(bytesOf(c.input)), c.digest) << c.input.size() << " bytes";
    }
}

TEST(Utf8PathWindows, NamesBeyondLatin1ReachTheSystemAndComeBack) {
    const std::string name = "\xD0\xBF\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82 \xC3\xA9.orbu"; // пакет é
    EXPECT_EQ(qx::utf8Path(name).wstring(), L"\u043F\u0430\u043A\u0435\u0442 \u00E9.orbu");
    const std::string absolute = qx::utf8Text(std::filesystem::absolute(qx::utf8Path(name)));
    EXPECT_TRUE(absolute.ends_with("\\" + name)) << absolute;
}

using RegularFileWindows = WindowsFolderTest;

TEST_F(RegularFileWindows, OnlyFilesOnADiskAreOpened) {
    const std::string named = qx::utf8Text(root / qx::utf8Path("pak\xC3\xA9t.orbu"));
    std::ofstream(qx::utf8Path(named), std::ios::binary) << "package";
    const qx::RegularFile file = qx::RegularFile::open(named, O_RDONLY);
    ASSERT_TRUE(file.ok()) << file.error();
    char text[8] = {};
    EXPECT_EQ(::_read(file.fd(), text, sizeof text), 7);

    struct Case {
        std::string path;
        int error; // 0: the system's own reason (without a console, CON does not even open)
    };
    for (const Case& c : {Case{qx::utf8Text(root), EISDIR}, Case{"NUL", ENOTSUP}, Case{"CON", 0},
                          Case{qx::utf8Text(root / "absent"), ENOENT}}) {
        const qx::RegularFile refused = qx::RegularFile::open(c.path, O_RDONLY);
        EXPECT_FALSE(refused.ok()) << c.path;
        if (c.error != 0) {
            EXPECT_EQ(refused.errorNumber(), c.error) << c.path << ": " << refused.error();
        }
        EXPECT_FALSE(refused.error().empty()) << c.path;
    }
}

} // namespace
