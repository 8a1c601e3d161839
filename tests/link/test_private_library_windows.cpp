// The carried HID library kept in a private folder: written once, repaired when damaged, and
// loaded from there by full path.
#include "link/LibraryBinding.h"
#include "link/windows/PrivateLibraryFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using qx::loadPrivateLibrary;
using qx::privateLibraryFolder;

std::vector<uint8_t> readAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class PrivateLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        folder = std::wstring(temp) + L"qx-private-lib-" + std::to_wstring(GetCurrentProcessId());
        // Wine reuses process ids: an earlier run's folders may still be there, holding the
        // library of another build.
        for (const std::wstring& f : {folder, folder + L"-damaged"}) {
            std::error_code ignored;
            std::filesystem::remove_all(f, ignored);
        }
        CreateDirectoryW(folder.c_str(), nullptr);
        image = readAll(HID_LIB_FILE);
        ASSERT_FALSE(image.empty());
    }

    // The one library file the folder holds, or empty.
    std::wstring onlyFile() const {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((folder + L"\\HID_Lib-*.dll").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE)
            return {};
        FindClose(h);
        return folder + L"\\" + found.cFileName;
    }

    void TearDown() override {
        // The loaded copies stay (the library keeps itself loaded); the rest goes.
        for (const std::wstring& f : {folder, folder + L"-damaged"}) {
            std::error_code ignored;
            std::filesystem::remove_all(f, ignored);
        }
    }

    std::wstring folder;
    std::vector<uint8_t> image;
};

TEST_F(PrivateLibraryTest, LoadsTheImageFromItsFolderAndRepairsADamagedCopy) {
    // The second folder starts with a damaged copy under the right name, as a cut-off earlier
    // run would leave it (a loaded copy cannot be damaged: the system holds it open).
    const std::wstring damaged = folder + L"-damaged";
    CreateDirectoryW(damaged.c_str(), nullptr);
    std::string error;
    for (const std::wstring& from : {folder, damaged}) {
        if (from == damaged) {
            const std::wstring name = onlyFile().substr(folder.size());
            const std::wstring path = damaged + name;
            std::ofstream(std::string(path.begin(), path.end()), std::ios::binary | std::ios::trunc)
                << "not a library";
        }
        HMODULE module = loadPrivateLibrary(from, image, error);
        ASSERT_NE(module, nullptr) << error;
        EXPECT_NE(GetProcAddress(module, "HIDscanForDevices"), nullptr);
        const std::wstring expected = from + onlyFile().substr(folder.size());
        wchar_t loadedFrom[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(module, loadedFrom, MAX_PATH), 0u);
        EXPECT_EQ(readAll(std::string(expected.begin(), expected.end()).c_str()), image);
        // The damaged folder's file has the loaded module's name, so the system may hand back
        // the module it already has.
        if (from == folder) {
            EXPECT_EQ(CompareStringOrdinal(loadedFrom, -1, expected.c_str(), -1, TRUE), CSTR_EQUAL);
        }
    }
}

TEST_F(PrivateLibraryTest, RefusesWithoutAFolderOrAnImage) {
    std::string error;
    EXPECT_EQ(loadPrivateLibrary(L"", image, error), nullptr);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_EQ(loadPrivateLibrary(folder, {}, error), nullptr);
    EXPECT_FALSE(error.empty());
}

// What the link does with the carried image: every entry point resolves, and the library answers.
TEST_F(PrivateLibraryTest, TheLinkLoadsTheCarriedImageWithEveryEntryPoint) {
    std::string error;
    const auto lib = qx::LoadedLibrary::load(image, error);
    ASSERT_NE(lib, nullptr) << error;
    EXPECT_LE(lib->entry().scanForDevices(), 32);
    EXPECT_FALSE(lib->entry().closeDevice());
    EXPECT_EQ(qx::LoadedLibrary::load({}, error), nullptr);
}

TEST(PrivateLibraryFolder, IsInTheUsersOwnDataFolder) {
    const std::wstring folder = privateLibraryFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.find(L"\\qx77zt\\lib"), std::wstring::npos);
    EXPECT_NE(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
