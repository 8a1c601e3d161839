// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LibraryBinding.h"

#include "link/linux/ElfImage.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

namespace qx {

namespace {

// Closes the in-memory file unless the loaded copy takes it over.
struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int release() { return std::exchange(fd, -1); }
};

// The loaded copies, to tell when the loader handed back one of them instead of a new copy.
std::mutex liveMutex;
std::set<void*> liveHandles; // guarded by liveMutex

} // namespace

std::unique_ptr<LoadedLibrary> LoadedLibrary::load(std::span<const uint8_t> image,
                                                   std::string& error) {
    if (image.empty()) {
        error = "the HID library image is empty";
        return nullptr;
    }
    if (const std::string damage = checkElfImage(image); !damage.empty()) {
        error = "the HID library image is damaged: " + damage;
        return nullptr;
    }
    FdGuard fd{memfd_create("HID_Lib", MFD_CLOEXEC)};
    if (fd.fd < 0) {
        error = std::string("cannot create the HID library file: ") + std::strerror(errno);
        return nullptr;
    }
    std::size_t written = 0;
    while (written < image.size()) {
        const ssize_t n = ::write(fd.fd, image.data() + written, image.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::string("cannot write the HID library file: ") + std::strerror(errno);
            return nullptr;
        }
        written += static_cast<std::size_t>(n);
    }
    // The loader knows a loaded object by this name: the file stays open for as long as the
    // copy is loaded, so no later copy gets the same name and with it this copy back.
    const std::string path = "/proc/self/fd/" + std::to_string(fd.fd);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = std::string("cannot load the HID library: ") + (why ? why : "unknown error");
        return nullptr;
    }
    {
        std::lock_guard lock(liveMutex);
        if (!liveHandles.insert(handle).second) {
            dlclose(handle);
            error = "the HID library could not be loaded as a copy of its own";
            return nullptr;
        }
    }
    std::unique_ptr<LoadedLibrary> lib(new LoadedLibrary(handle, fd.release()));
    const bool ok = lib->resolveAll(error);
    if (!ok) {
        return nullptr; // the destructor unloads it again
    }
    return lib;
}

LoadedLibrary::~LoadedLibrary() {
    {
        std::lock_guard lock(liveMutex);
        liveHandles.erase(handle_);
    }
    dlclose(handle_);
    if (hold_ >= 0) {
        ::close(hold_);
    }
}

void* LoadedLibrary::symbol(const char* name) const {
    return dlsym(handle_, name);
}

} // namespace qx
