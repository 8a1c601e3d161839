#include "link/LibraryBinding.h"

#include "link/ElfImage.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qx {

namespace {

// Closes the in-memory file once the loader has mapped what it needs.
struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

template <typename F>
bool resolve(void* handle, const char* name, F& out, std::string& error) {
    void* p = dlsym(handle, name);
    if (p == nullptr) {
        error = std::string("the HID library has no entry point ") + name;
        return false;
    }
    out = reinterpret_cast<F>(p);
    return true;
}

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
    const std::string path = "/proc/self/fd/" + std::to_string(fd.fd);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = std::string("cannot load the HID library: ") + (why ? why : "unknown error");
        return nullptr;
    }
    std::unique_ptr<LoadedLibrary> lib(new LoadedLibrary(handle));
    HidEntryPoints& e = lib->entry_;
    const bool ok = resolve(handle, "HIDscanForDevices", e.scanForDevices, error) &&
                    resolve(handle, "HIDGetDeviceInfo", e.getDeviceInfo, error) &&
                    resolve(handle, "HIDopenDevice", e.openDevice, error) &&
                    resolve(handle, "HIDcloseDevice", e.closeDevice, error) &&
                    resolve(handle, "HIDwriteDevice", e.writeDevice, error) &&
                    resolve(handle, "HIDreadDevice", e.readDevice, error) &&
                    resolve(handle, "HIDOutputReportSize", e.outputReportSize, error) &&
                    resolve(handle, "HIDInputReportSize", e.inputReportSize, error) &&
                    resolve(handle, "HIDFeatureReportSize", e.featureReportSize, error) &&
                    resolve(handle, "HIDOutputReportCount", e.outputReportCount, error) &&
                    resolve(handle, "HIDInputReportCount", e.inputReportCount, error) &&
                    resolve(handle, "HIDFeatureReportCount", e.featureReportCount, error) &&
                    resolve(handle, "HIDSetOutputReport", e.setOutputReport, error) &&
                    resolve(handle, "HIDGetInputReport", e.getInputReport, error) &&
                    resolve(handle, "HIDSetFeatureReport", e.setFeatureReport, error) &&
                    resolve(handle, "HIDGetFeatureReport", e.getFeatureReport, error) &&
                    resolve(handle, "HIDsetEventHandler", e.setEventHandler, error) &&
                    resolve(handle, "USBsetEventHandler", e.usbSetEventHandler, error);
    if (!ok) {
        return nullptr; // the destructor unloads it again
    }
    return lib;
}

LoadedLibrary::~LoadedLibrary() {
    dlclose(handle_);
}

void* LoadedLibrary::symbol(const char* name) const {
    return dlsym(handle_, name);
}

} // namespace qx
