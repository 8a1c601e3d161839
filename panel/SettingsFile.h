// The settings file: the 18 bytes of the settings record and nothing else.
#pragma once

#include "link/DeviceRecords.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qx::panel {

// Copies the file's leading bytes over the record: at most 18, fewer when the file is shorter.
// Nothing in the content is checked. Returns the number of bytes copied.
std::size_t applySettingsBytes(std::span<const uint8_t> file, DeviceSettings& s);

struct FileResult {
    bool ok = false;
    // The system's description of the failure when !ok.
    std::string error;
};

// Creates (or replaces) `path` and writes the record's 18 bytes.
FileResult writeSettingsFile(const std::string& path, const DeviceSettings& s);

// Reads the leading bytes of `path` that a settings record can hold (at most 18; the rest of a
// longer file is never read into memory).
struct FileBytes : FileResult {
    std::vector<uint8_t> bytes;
};
FileBytes readSettingsFile(const std::string& path);

} // namespace qx::panel
