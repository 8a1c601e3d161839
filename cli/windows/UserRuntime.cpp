// SPDX-License-Identifier: GPL-3.0-or-later
// The temporary folder on Windows is the user's own (under the profile), closed to other users.
#include "cli/UserRuntime.h"

#include "state/Utf8Path.h"

#include <filesystem>

namespace qx::cli {

RuntimeFolder userRuntimeFolder() {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error) {
        return {{}, "no temporary folder: " + error.message()};
    }
    return {utf8Text(temp), {}};
}

} // namespace qx::cli
