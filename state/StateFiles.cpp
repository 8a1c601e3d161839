#include "state/StateFiles.h"

namespace qx::state {

std::filesystem::path stateFolder(const char* xdgStateHome, const char* home, const char* folder) {
    // XDG base directories must be absolute; a relative value is ignored.
    if (xdgStateHome != nullptr && xdgStateHome[0] == '/') {
        return std::filesystem::path(xdgStateHome) / folder;
    }
    if (home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".local" / "state" / folder;
    }
    return {};
}

} // namespace qx::state
