// SPDX-License-Identifier: GPL-3.0-or-later
// Loading the carried HID library on Windows: from the user's own folder, by full path.
#include "link/LibraryBinding.h"
#include "link/windows/PrivateLibraryFile.h"

#include <mutex>
#include <set>

namespace qx {

namespace {

// The copy numbers of the loaded copies: loading the same file again would give back the copy
// already loaded, so each copy loaded at the same time has a file of its own.
std::mutex copiesMutex;
std::set<int> copiesInUse; // guarded by copiesMutex

int claimCopy() {
    std::lock_guard lock(copiesMutex);
    int copy = 0;
    while (copiesInUse.count(copy) != 0)
        ++copy;
    copiesInUse.insert(copy);
    return copy;
}

void releaseCopy(int copy) {
    std::lock_guard lock(copiesMutex);
    copiesInUse.erase(copy);
}

} // namespace

std::unique_ptr<LoadedLibrary> LoadedLibrary::load(std::span<const uint8_t> image,
                                                   std::string& error) {
    const int copy = claimCopy();
    HMODULE module =
        loadPrivateLibrary(privateLibraryFolder(), image, error, static_cast<unsigned>(copy));
    if (module == nullptr) {
        releaseCopy(copy);
        return nullptr;
    }
    std::unique_ptr<LoadedLibrary> lib(new LoadedLibrary(module, copy));
    if (!lib->resolveAll(error))
        return nullptr; // the destructor unloads it again
    return lib;
}

LoadedLibrary::~LoadedLibrary() {
    FreeLibrary(static_cast<HMODULE>(handle_));
    releaseCopy(hold_);
}

void* LoadedLibrary::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

} // namespace qx
