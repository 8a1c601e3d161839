// SPDX-License-Identifier: GPL-3.0-or-later
// A private folder per test, events made to order, and the log's files as text.
#pragma once

#include "eventlog/EventTime.h"
#include "watch/Event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qx::eventlog::test {

using namespace std::chrono_literals;

// 2026-12-11T03:12:45.120Z
inline TimePoint someTime() {
    return std::chrono::sys_days(std::chrono::year{2026} / 12 / 11) + 3h + 12min + 45s + 120ms;
}

inline std::chrono::sys_days someDay() {
    return std::chrono::sys_days(std::chrono::year{2026} / 12 / 11);
}

inline watch::Event makeEvent(TimePoint time, std::string kind, std::string serial = "QX7700000042",
                              std::string unit = "Studio A") {
    watch::Event e;
    e.time = time;
    e.kind = std::move(kind);
    e.serial = std::move(serial);
    e.unit = std::move(unit);
    return e;
}

class LogFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (std::filesystem::temp_directory_path() / "qx-events-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        root = templ;
        folder = root / "state" / "events";
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
    std::filesystem::path dayFile(std::chrono::sys_days day) const {
        return folder / dailyFileName(day);
    }
    std::vector<std::string> fileNames() const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
            out.push_back(e.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    std::filesystem::path root;
    std::filesystem::path folder;
};

} // namespace qx::eventlog::test
