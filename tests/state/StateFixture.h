// SPDX-License-Identifier: GPL-3.0-or-later
// A private state folder per test, and the bytes of the files in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace qx::state::test {

class StateFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (std::filesystem::temp_directory_path() / "qx-state-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        root = templ;
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    static std::string read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void write(const std::filesystem::path& p, const std::string& text) {
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    // A path whose folder cannot be made: a plain file stands where the folder would be (this
    // holds for root too, unlike permissions).
    std::filesystem::path unwritable(const char* name) {
        write(root / "blocker", "x");
        return root / "blocker" / "state" / name;
    }
    std::vector<std::string> folderNames() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(root)) {
            out.push_back(e.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    std::filesystem::path root;
};

inline std::span<const std::uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

} // namespace qx::state::test
