// SPDX-License-Identifier: GPL-3.0-or-later
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

SetAside setAside(const std::filesystem::path& path) {
    // Enough names for every damaged copy anyone keeps; past them the file stays where it is.
    constexpr int kNames = 1000;
    SetAside out;
    for (int n = 1; n <= kNames; ++n) {
        std::filesystem::path to = path;
        to += n == 1 ? std::string(".damaged") : ".damaged." + std::to_string(n);
        switch (moveWithoutReplacing(path, to, out.error)) {
        case MoveResult::Moved:
            out.ok = true;
            out.to = std::move(to);
            return out;
        case MoveResult::TargetExists:
            continue;
        case MoveResult::Failed:
            return out;
        }
    }
    out.error = "every name for a damaged copy is taken";
    return out;
}

StateLoad loadStateFile(const std::filesystem::path& path, std::size_t maxBytes,
                        const std::function<std::string(std::span<const std::uint8_t>)>& parse) {
    StateLoad out;
    const ReadOutcome read = readStateFile(path, maxBytes);
    switch (read.status) {
    case ReadOutcome::Status::Missing:
        return out;
    case ReadOutcome::Status::Failed:
        out.status = StateLoad::Status::Kept;
        out.why = read.error;
        return out;
    case ReadOutcome::Status::TooLarge:
        out.why = read.error;
        break;
    case ReadOutcome::Status::Read:
        out.why = parse(read.bytes);
        if (out.why.empty()) {
            out.status = StateLoad::Status::Loaded;
            return out;
        }
        break;
    }
    const SetAside aside = setAside(path);
    if (!aside.ok) {
        out.status = StateLoad::Status::Kept;
        out.why += "; it cannot be moved aside: " + aside.error;
        return out;
    }
    out.status = StateLoad::Status::SetAside;
    out.aside = aside.to;
    return out;
}

} // namespace qx::state
