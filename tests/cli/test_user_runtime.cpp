// SPDX-License-Identifier: GPL-3.0-or-later
// The folder both programs keep their locks and socket in, and the unit lock in it: one place per
// user whatever the environment, and nothing another user made there is used or printed.
#include "CliFixture.h"
#include "cli/CliMain.h"
#include "cli/UnitLock.h"
#include "cli/UserRuntime.h"
#include "cli/linux/PrivateFolder.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx::cli::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uid_t kOtherUid = 65534;

bool isRoot() {
    return ::geteuid() == 0;
}

// What is at a place before the choice: nothing, or a folder/file/link with an owner and mode.
enum class Entry { Missing, Folder, File, LinkToPrivateFolder };
struct Place {
    Entry entry = Entry::Missing;
    mode_t mode = 0700;
    bool foreign = false; // owned by another user (needs root to make)
};

void make(const std::string& path, const Place& place, const std::string& spare) {
    switch (place.entry) {
    case Entry::Missing:
        return;
    case Entry::Folder:
        ASSERT_EQ(::mkdir(path.c_str(), place.mode), 0);
        ASSERT_EQ(::chmod(path.c_str(), place.mode), 0);
        break;
    case Entry::File: {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, place.mode);
        ASSERT_GE(fd, 0);
        ::close(fd);
        break;
    }
    case Entry::LinkToPrivateFolder:
        ASSERT_EQ(::mkdir(spare.c_str(), 0700), 0);
        ASSERT_EQ(::symlink(spare.c_str(), path.c_str()), 0);
        return;
    }
    if (place.foreign) {
        ASSERT_EQ(::lchown(path.c_str(), kOtherUid, kOtherUid), 0);
    }
}

struct ChoiceCase {
    const char* name;
    Place session; // <session root>/<uid>
    Place temp;    // <temporary root>/qx77zt-<uid>
    enum { Session, Temp, Refused } chosen;
    const char* error; // part of the refusal
};

const ChoiceCase kChoices[] = {
    {"SessionFolderOfTheUser", {Entry::Folder}, {}, ChoiceCase::Session, ""},
    {"NoSessionFolderMakesTheTemporaryOne", {}, {}, ChoiceCase::Temp, ""},
    {"TemporaryFolderOfTheUserIsTakenAgain", {}, {Entry::Folder}, ChoiceCase::Temp, ""},
    {"SessionFolderOpenToOthersIsPassedOver", {Entry::Folder, 0755}, {}, ChoiceCase::Temp, ""},
    {"SessionFolderOfAnotherUserIsPassedOver",
     {Entry::Folder, 0700, true},
     {},
     ChoiceCase::Temp,
     ""},
    {"SessionLinkIsPassedOver", {Entry::LinkToPrivateFolder}, {}, ChoiceCase::Temp, ""},
    {"TemporaryFolderOfAnotherUser",
     {},
     {Entry::Folder, 0700, true},
     ChoiceCase::Refused,
     "belongs to another user"},
    {"TemporaryFolderOpenToOthers",
     {},
     {Entry::Folder, 0777},
     ChoiceCase::Refused,
     "open to other users (mode 0777)"},
    {"TemporaryFolderOpenToTheGroup",
     {},
     {Entry::Folder, 0750},
     ChoiceCase::Refused,
     "open to other users"},
    {"TemporaryLink", {}, {Entry::LinkToPrivateFolder}, ChoiceCase::Refused, "symbolic link"},
    {"TemporaryFile", {}, {Entry::File, 0600}, ChoiceCase::Refused, "not a folder"},
};

class RuntimeFolderChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(RuntimeFolderChoice, OnlyAPrivateFolderOfTheUserIsUsed) {
    const ChoiceCase& c = GetParam();
    if ((c.session.foreign || c.temp.foreign) && !isRoot()) {
        GTEST_SKIP() << "a file of another user needs root";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string root = dir.path().toStdString();
    const std::string sessionRoot = root + "/run-user";
    const std::string tempRoot = root + "/tmp";
    ASSERT_EQ(::mkdir(sessionRoot.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(tempRoot.c_str(), 01777), 0);
    const uid_t uid = ::geteuid();
    const std::string session = sessionRoot + "/" + std::to_string(uid);
    const std::string temp = tempRoot + "/qx77zt-" + std::to_string(uid);
    make(session, c.session, root + "/spare-session");
    make(temp, c.temp, root + "/spare-temp");

    const RuntimeFolder chosen = chooseRuntimeFolder(uid, sessionRoot, tempRoot);
    switch (c.chosen) {
    case ChoiceCase::Session:
        EXPECT_EQ(chosen.path, session) << chosen.error;
        break;
    case ChoiceCase::Temp: {
        EXPECT_EQ(chosen.path, temp) << chosen.error;
        struct stat st {};
        ASSERT_EQ(::lstat(temp.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        break;
    }
    case ChoiceCase::Refused:
        EXPECT_EQ(chosen.path, "");
        EXPECT_NE(chosen.error.find(temp), std::string::npos) << chosen.error;
        EXPECT_NE(chosen.error.find(c.error), std::string::npos) << chosen.error;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Places, RuntimeFolderChoice, ::testing::ValuesIn(kChoices),
                         [](const auto& info) { return std::string(info.param.name); });

// Sets an environment variable (or removes it, for nullopt) for one scope.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        set(value);
    }
    ~EnvironmentVariable() { set(old_); }
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(RuntimeFolder, TheSameWhateverTheSessionSays) {
    // A desktop shell, cron and `su` differ in these; the folder does not.
    const EnvironmentVariable unset("QX77ZT_RUNTIME_DIR", std::nullopt);
    QTemporaryDir other;
    std::optional<std::string> chosen;
    for (const std::optional<std::string>& runtime :
         {std::optional<std::string>(other.path().toStdString()), std::optional<std::string>()}) {
        const EnvironmentVariable xdg("XDG_RUNTIME_DIR", runtime);
        const EnvironmentVariable tmp("TMPDIR", runtime);
        const RuntimeFolder place = userRuntimeFolder();
        ASSERT_NE(place.path, "") << place.error;
        EXPECT_NE(place.path, other.path().toStdString());
        if (chosen) {
            EXPECT_EQ(place.path, *chosen);
        }
        chosen = place.path;
    }
}

// The unit lock in a folder where someone else has put something at its name.
struct LockCase {
    const char* name;
    enum { ForeignFile, Link, Fifo, HeldWithEscapes } setup;
    UnitLock::Result expected;
};

const LockCase kLocks[] = {
    {"FileOfAnotherUser", LockCase::ForeignFile, UnitLock::Result::Failed},
    {"SymbolicLink", LockCase::Link, UnitLock::Result::Failed},
    {"NamedPipe", LockCase::Fifo, UnitLock::Result::Failed},
    {"HolderWritesEscapes", LockCase::HeldWithEscapes, UnitLock::Result::Busy},
};

// Bytes that would move the cursor, retitle or clear a terminal.
const std::string kEscapes = "\x1b]0;owned\x07\x1b[2J\r\x1b[31mupdate\n";

bool hasControlBytes(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n') {
            return true;
        }
        if (c == 0x7F) {
            return true;
        }
    }
    return false;
}

class UnitLockPlanted : public CliFixture, public ::testing::WithParamInterface<LockCase> {};

TEST_P(UnitLockPlanted, NeitherTakenNorPrinted) {
    const LockCase& c = GetParam();
    if (c.setup == LockCase::ForeignFile && !isRoot()) {
        GTEST_SKIP() << "a file of another user needs root";
    }
    const std::string dir = dir_.path().toStdString();
    const std::string file = dir + "/qx77zt-unit.lock";
    std::optional<UnitLock> holder;
    switch (c.setup) {
    case LockCase::ForeignFile: {
        const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, kEscapes.data(), kEscapes.size()),
                  static_cast<ssize_t>(kEscapes.size()));
        ASSERT_EQ(::fchown(fd, kOtherUid, kOtherUid), 0);
        ::close(fd);
        break;
    }
    case LockCase::Link:
        ASSERT_EQ(::symlink((dir + "/elsewhere").c_str(), file.c_str()), 0);
        break;
    case LockCase::Fifo:
        ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        break;
    case LockCase::HeldWithEscapes:
        holder.emplace(dir);
        ASSERT_EQ(holder->take(kEscapes, 0ms), UnitLock::Result::Taken);
        break;
    }

    UnitLock lock(dir);
    EXPECT_EQ(lock.take("get", 0ms), c.expected) << lock.error();
    EXPECT_FALSE(hasControlBytes(lock.holder()));
    EXPECT_FALSE(hasControlBytes(lock.error()));

    // qx77zt itself: refused, and nothing of the file's reaches the terminal.
    const CliRun r = run({"get"});
    EXPECT_EQ(r.status, kExitUnitFailed) << r.err;
    EXPECT_FALSE(hasControlBytes(r.err)) << r.err;
    if (c.setup == LockCase::ForeignFile) {
        // The other user's file is left as it was.
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, static_cast<off_t>(kEscapes.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Planted, UnitLockPlanted, ::testing::ValuesIn(kLocks),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qx::cli::test
