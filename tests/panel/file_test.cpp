// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

#include <sys/stat.h>

namespace qx::panel {
namespace {

namespace fs = std::filesystem;

struct SettingsFileTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qx_panel_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const std::vector<uint8_t>& bytes, const char* name = "f.cfg") {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
};

DeviceSettings numbered() {
    DeviceSettings s;
    auto raw = rawBytes(s);
    std::iota(raw.begin(), raw.end(), uint8_t{0x40});
    return s;
}

TEST_F(SettingsFileTest, SavedFileHoldsTheEighteenBytesAndLoadsBack) {
    const std::string path = (dir / "a.cfg").string();
    ASSERT_TRUE(writeSettingsFile(path, factoryDefaults()).ok);
    EXPECT_EQ(fs::file_size(path), 18u);
    const FileBytes back = readSettingsFile(path);
    ASSERT_TRUE(back.ok);
    EXPECT_TRUE(std::equal(back.bytes.begin(), back.bytes.end(), kFactoryDefaults.begin(),
                           kFactoryDefaults.end()));
    // Replacing a longer file leaves exactly 18 bytes.
    file(std::vector<uint8_t>(40, 0xAA), "a.cfg");
    ASSERT_TRUE(writeSettingsFile(path, numbered()).ok);
    EXPECT_EQ(fs::file_size(path), 18u);
}

// A file is taken only when it is exactly a record whose every byte the window can show; each
// refusal names what is wrong.
TEST_F(SettingsFileTest, OnlyEighteenBytesWithinTheirRangesAreTaken) {
    const auto defaultsWith = [](std::size_t at, uint8_t value) {
        std::vector<uint8_t> b(kFactoryDefaults.begin(), kFactoryDefaults.end());
        b[at] = value;
        return b;
    };
    const std::vector<uint8_t> highest = {3, 17, 17, 17, 17, 17, 17, 17, 17,
                                          2, 2,  2,  32, 32, 1,  2,  3,  1};
    const std::string text = "preset=2\nmute=1\no\n"; // 18 bytes
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* problem; // nullptr: taken
    };
    const Row rows[] = {
        {"defaults", defaultsWith(0, 0), nullptr},
        {"every field at its top", highest, nullptr},
        {"lowest gains", defaultsWith(12, 0xE0), nullptr},
        {"empty", {}, "it holds only 0 bytes, a settings file exactly 18"},
        {"one byte", {0}, "it holds only 1 byte, a settings file exactly 18"},
        {"one short", std::vector<uint8_t>(17, 0),
         "it holds only 17 bytes, a settings file exactly 18"},
        {"one over", std::vector<uint8_t>(19, 0),
         "it holds more than 18 bytes, a settings file exactly 18"},
        {"a text file", {text.begin(), text.end()}, "its preset (byte 0) is 112, outside 0 to 3"},
        {"no fifth preset", defaultsWith(0, 4), "its preset (byte 0) is 4, outside 0 to 3"},
        {"source 18", defaultsWith(6, 18),
         "its preset 3 right source (byte 6) is 18, outside 0 to 17"},
        {"mute 3", defaultsWith(9, 3), "its mute (byte 9) is 3, outside 0 to 2"},
        {"gain +33", defaultsWith(12, 0x21), "its left gain (byte 12) is 33, outside -32 to 32"},
        {"gain -33", defaultsWith(13, 0xDF), "its right gain (byte 13) is -33, outside -32 to 32"},
        {"ballistics 2", defaultsWith(14, 2), "its ballistics (byte 14) is 2, outside 0 to 1"},
        {"peak hold 3", defaultsWith(15, 3), "its peak hold (byte 15) is 3, outside 0 to 2"},
        {"brightness 4", defaultsWith(16, 4), "its brightness (byte 16) is 4, outside 0 to 3"},
        {"scale 255", defaultsWith(17, 255), "its scale (byte 17) is 255, outside 0 to 1"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const FileBytes f = readSettingsFile(file(r.bytes));
        ASSERT_TRUE(f.ok);
        const ParsedSettings parsed = parseSettingsFile(f.bytes);
        if (r.problem == nullptr) {
            ASSERT_TRUE(parsed.settings.has_value()) << parsed.problem;
            const auto raw = rawBytes(*parsed.settings);
            EXPECT_TRUE(std::equal(raw.begin(), raw.end(), r.bytes.begin(), r.bytes.end()));
        } else {
            EXPECT_FALSE(parsed.settings.has_value());
            EXPECT_EQ(parsed.problem, r.problem);
        }
    }
}

// A named pipe would block the window on open until some writer came; a device would be read or
// written for real. Both are refused at once, saying what they are.
TEST_F(SettingsFileTest, PipesAndDevicesAreRefusedWithoutBlocking) {
    const fs::path pipe = dir / "pipe.cfg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const FileBytes r = readSettingsFile(pipe.string());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Not a regular file: it is a named pipe");
    const FileResult w = writeSettingsFile(pipe.string(), factoryDefaults());
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.error, "Not a regular file: it is a named pipe");
    EXPECT_FALSE(readSettingsFile("/dev/zero").ok);
    EXPECT_EQ(readSettingsFile("/dev/zero").error, "Not a regular file: it is a character device");
}

TEST_F(SettingsFileTest, FailuresCarryTheSystemsText) {
    const FileResult w = writeSettingsFile((dir / "missing" / "x.cfg").string(), {});
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.error, "No such file or directory");
    const FileBytes r = readSettingsFile((dir / "none.cfg").string());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "No such file or directory");
    const FileBytes d = readSettingsFile(dir.string());
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.error, "Is a directory");
    EXPECT_FALSE(writeSettingsFile(dir.string(), {}).ok);
}

// A full disk is not reported as saved. /dev/full stands for one, and is refused before any
// byte is written because it is a device.
TEST_F(SettingsFileTest, AFullDiskIsAFailure) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const auto link = dir / "full.cfg";
    std::filesystem::create_symlink("/dev/full", link);
    const FileResult w = writeSettingsFile(link.string(), factoryDefaults());
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.error, "Not a regular file: it is a character device");
}
} // namespace
} // namespace qx::panel
