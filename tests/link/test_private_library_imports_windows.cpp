// SPDX-License-Identifier: GPL-3.0-or-later
// The carried library's own imports come from the system folder, not from the private folder
// it is kept in: a hid.dll planted beside it is never loaded. A process of its own, since a
// module once loaded is not looked for again.
#include "link/windows/PrivateLibraryFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::vector<uint8_t> readAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(PrivateLibraryImports, AHidDllPlantedInThePrivateFolderIsNotLoaded) {
    ASSERT_EQ(GetModuleHandleW(L"hid.dll"), nullptr) << "loaded before the test";
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::filesystem::path folder =
        std::wstring(temp) + L"qx-planted-" + std::to_wstring(GetCurrentProcessId());
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(PLANTED_DLL, folder / L"hid.dll");

    const std::vector<uint8_t> image = readAll(HID_LIB_FILE);
    ASSERT_FALSE(image.empty());
    std::string error;
    const HMODULE module = qx::loadPrivateLibrary(folder.wstring(), image, error);
    EXPECT_EQ(GetEnvironmentVariableW(L"QX_PLANTED_HID_LOADED", nullptr, 0), 0u)
        << "the hid.dll planted in the private folder was loaded";
    ASSERT_NE(module, nullptr) << error;
    const HMODULE hid = GetModuleHandleW(L"hid.dll");
    ASSERT_NE(hid, nullptr);
    wchar_t from[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(hid, from, MAX_PATH), 0u);
    EXPECT_EQ(std::wstring(from).find(folder.wstring()), std::wstring::npos);
    // The loaded library stays (it keeps itself loaded); the planted file may go.
    std::filesystem::remove(folder / L"hid.dll", ignored);
}

} // namespace
