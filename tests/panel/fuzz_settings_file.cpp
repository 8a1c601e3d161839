// Settings file contents of any length copied over the record: never more than 18 bytes, never
// past the end of the input.
#include "panel/SettingsFile.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so a read past the end of the input is caught.
    std::vector<uint8_t> file(data, data + size);
    qx::DeviceSettings s;
    std::memset(&s, 0xA5, sizeof s);
    const std::size_t n = qx::panel::applySettingsBytes(file, s);
    const auto raw = qx::rawBytes(s);
    if (n != std::min(size, qx::kSettingsSize) || std::memcmp(raw.data(), file.data(), n) != 0) {
        std::abort();
    }
    for (std::size_t i = n; i < qx::kSettingsSize; ++i) {
        if (raw[i] != 0xA5) {
            std::abort();
        }
    }
    return 0;
}
