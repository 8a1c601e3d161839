#include "panel/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

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

TEST_F(SettingsFileTest, FileLengthDecidesHowManyBytesAreReplaced) {
    struct Row {
        std::size_t length;
        std::size_t copied;
    };
    for (const Row r : {Row{20, 18}, Row{18, 18}, Row{5, 5}, Row{0, 0}}) {
        SCOPED_TRACE(r.length);
        std::vector<uint8_t> content(r.length);
        std::iota(content.begin(), content.end(), uint8_t{1});
        const FileBytes f = readSettingsFile(file(content));
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.bytes.size(), r.copied);
        DeviceSettings s = numbered();
        EXPECT_EQ(applySettingsBytes(f.bytes, s), r.copied);
        const auto raw = rawBytes(s);
        for (std::size_t i = 0; i < kSettingsSize; ++i) {
            EXPECT_EQ(raw[i], i < r.copied ? i + 1 : 0x40 + i) << i;
        }
    }
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

// A file that opens but cannot take the bytes (a full disk) is not reported as saved.
TEST_F(SettingsFileTest, AFullDiskIsAFailure) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const auto link = dir / "full.cfg";
    std::filesystem::create_symlink("/dev/full", link);
    const FileResult w = writeSettingsFile(link.string(), factoryDefaults());
    EXPECT_FALSE(w.ok);
    EXPECT_EQ(w.error, "No space left on device");
}

} // namespace
} // namespace qx::panel
