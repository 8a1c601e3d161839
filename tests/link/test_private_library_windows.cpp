// SPDX-License-Identifier: GPL-3.0-or-later
// The carried HID library kept in a private folder: written once, repaired when damaged, and
// loaded from there by full path.
#include "link/LibraryBinding.h"
#include "link/windows/PrivateLibraryFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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

// The system loads a file once per process: copies loaded at the same time (one per unit) are
// separate modules only because each has a numbered file of its own.
TEST_F(PrivateLibraryTest, EachCopyLoadedAtTheSameTimeIsAModuleOfItsOwn) {
    std::string error;
    const HMODULE first = loadPrivateLibrary(folder, image, error, 0);
    ASSERT_NE(first, nullptr) << error;
    const HMODULE second = loadPrivateLibrary(folder, image, error, 1);
    ASSERT_NE(second, nullptr) << error;
    EXPECT_NE(first, second);
    EXPECT_NE(GetProcAddress(first, "HIDscanForDevices"),
              GetProcAddress(second, "HIDscanForDevices"));

    const auto a = qx::LoadedLibrary::load(image, error);
    ASSERT_NE(a, nullptr) << error;
    const auto b = qx::LoadedLibrary::load(image, error);
    ASSERT_NE(b, nullptr) << error;
    EXPECT_NE(a->symbol("HIDscanForDevices"), b->symbol("HIDscanForDevices"));
}

// Two loaders starting together where the file is not yet there (the first run, or the first
// after an upgrade): each writes a temporary file of its own, and the one that finds its rename
// refused (the other's file is in place and held open) loads that file. A small library stands
// in for the carried one, so that every round can unload it and start from an empty folder.
TEST_F(PrivateLibraryTest, TwoLoadersStartingTogetherBothLoadTheLibrary) {
    const std::vector<uint8_t> small = readAll(SMALL_DLL);
    ASSERT_FALSE(small.empty());
    constexpr int kRounds = 50;
    int failed = 0;
    std::string firstError;
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring into = folder + L"\\round-" + std::to_wstring(round);
        CreateDirectoryW(into.c_str(), nullptr);
        // Released together by one event (std::latch of this C++ library can miss a wake-up).
        const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(start, nullptr);
        HMODULE loaded[2] = {};
        std::string errors[2];
        {
            std::jthread loaders[2];
            for (int i = 0; i < 2; ++i)
                loaders[i] = std::jthread([&, i] {
                    WaitForSingleObject(start, INFINITE);
                    loaded[i] = loadPrivateLibrary(into, small, errors[i]);
                });
            SetEvent(start);
        }
        CloseHandle(start);
        for (int i = 0; i < 2; ++i) {
            if (loaded[i] == nullptr) {
                ++failed;
                if (firstError.empty())
                    firstError = errors[i];
            } else {
                FreeLibrary(loaded[i]);
            }
        }
    }
    EXPECT_EQ(failed, 0) << "of " << 2 * kRounds << " loads; first: " << firstError;
    // Nothing is left behind but the library itself.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored)) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().extension(), L".dll") << entry.path();
        }
    }
}

TEST(PrivateLibraryFolder, IsInTheUsersOwnDataFolder) {
    const std::wstring folder = privateLibraryFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.find(L"\\qx77zt\\lib"), std::wstring::npos);
    EXPECT_NE(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
