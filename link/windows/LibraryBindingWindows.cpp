// SPDX-License-Identifier: GPL-3.0-or-later
// Loading the carried HID library on Windows: from the user's own folder, by full path.
#include "link/LibraryBinding.h"
#include "link/windows/PrivateLibraryFile.h"

namespace qx {

std::unique_ptr<LoadedLibrary> LoadedLibrary::load(std::span<const uint8_t> image,
                                                   std::string& error) {
    HMODULE module = loadPrivateLibrary(privateLibraryFolder(), image, error);
    if (module == nullptr)
        return nullptr;
    std::unique_ptr<LoadedLibrary> lib(new LoadedLibrary(module));
    if (!lib->resolveAll(error))
        return nullptr; // the destructor unloads it again
    return lib;
}

LoadedLibrary::~LoadedLibrary() {
    FreeLibrary(static_cast<HMODULE>(handle_));
}

void* LoadedLibrary::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

} // namespace qx
