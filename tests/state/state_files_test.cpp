// SPDX-License-Identifier: GPL-3.0-or-later
// Where the state files live, and replacing them whole.
#include "StateFixture.h"

#include "state/FieldText.h"
#include "state/StateFiles.h"

namespace qx::state::test {
namespace {

TEST(StateFolder, FollowsTheBaseDirectoryRules) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    for (const Case& c : {
             Case{"/x/state", "/home/op", "/x/state/qx77zt"},
             Case{nullptr, "/home/op", "/home/op/.local/state/qx77zt"},
             Case{"", "/home/op", "/home/op/.local/state/qx77zt"},
             Case{"relative/state", "/home/op", "/home/op/.local/state/qx77zt"},
             Case{nullptr, nullptr, ""},
             Case{nullptr, "relative", ""},
         }) {
        EXPECT_EQ(stateFolder(c.xdg, c.home).string(), c.expected)
            << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
    }
}

using ReplaceFile = StateFolderTest;

TEST_F(ReplaceFile, CreatesTheFolderAndLeavesOnlyTheNewFile) {
    const auto file = root / "made" / "journal";
    ASSERT_TRUE(replaceFile(file, bytesOf("old\n")).ok);
    const WriteOutcome w = replaceFile(file, bytesOf("new\n"));
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(read(file), "new\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root / "made"),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file is left beside it";
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ReplaceFile, FailureIsReportedAndTheOldFileStays) {
    const auto file = root / "journal";
    write(file, "old\n");
    // A folder where the file should be: the rename cannot replace it.
    const auto blocked = root / "dir-in-the-way";
    std::filesystem::create_directories(blocked / "inside");
    const WriteOutcome w = replaceFile(blocked, bytesOf("new\n"));
    EXPECT_FALSE(w.ok);
    EXPECT_FALSE(w.error.empty());
    EXPECT_EQ(folderNames(), (std::vector<std::string>{"dir-in-the-way", "journal"}))
        << "the new file is not left lying about";

    const WriteOutcome noFolder = replaceFile(unwritable("journal"), bytesOf("new\n"));
    EXPECT_FALSE(noFolder.ok);
    EXPECT_NE(noFolder.error.find("cannot create"), std::string::npos) << noFolder.error;
    EXPECT_EQ(read(file), "old\n");
}

TEST_F(ReplaceFile, ReadingRefusesWhatIsNoStateFile) {
    write(root / "big", std::string(100, 'x'));
    std::filesystem::create_directories(root / "folder");
    std::filesystem::create_symlink(root / "big", root / "link");
    EXPECT_EQ(readStateFile(root / "missing", 100).status, ReadOutcome::Status::Missing);
    EXPECT_EQ(readStateFile(root / "big", 100).status, ReadOutcome::Status::Read);
    // Too large is what a file says about itself; the others say nothing of what they hold.
    struct Case {
        const char* name;
        ReadOutcome::Status status;
    };
    for (const Case c :
         {Case{"big", ReadOutcome::Status::TooLarge}, Case{"folder", ReadOutcome::Status::Failed},
          Case{"link", ReadOutcome::Status::Failed}}) {
        const ReadOutcome r = readStateFile(root / c.name, 99);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_FALSE(r.error.empty()) << c.name;
    }
}

TEST(FieldText, EscapedFieldsReadBackAndForeignOnesAreRefused) {
    for (const std::string& text :
         {std::string(), std::string("plain"), std::string("two words"), std::string("100%"),
          std::string("%"), std::string("tab\tnew\nline"), std::string("\xD0\x9F\x00\xFF", 4),
          std::string("/home/op/my packages/fw 2.1.orbu")}) {
        const std::string field = escapeField(text);
        EXPECT_EQ(field.find(' '), std::string::npos) << field;
        EXPECT_EQ(unescapeField(field), text) << field;
    }
    for (const char* bad : {"", "%4", "%zz", "a b", "50%", "%%"}) {
        EXPECT_FALSE(unescapeField(bad)) << bad;
    }
    for (const char* bad : {"", "01", "-0", "+1", "18446744073709551616", "1x"}) {
        EXPECT_FALSE(decimalField(bad)) << bad;
    }
    EXPECT_EQ(decimalField("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(signedDecimalField("-5"), -5);
    EXPECT_FALSE(bytesFromHex("abc", 2));
    EXPECT_FALSE(bytesFromHex("abgd", 2));
}

} // namespace
} // namespace qx::state::test
