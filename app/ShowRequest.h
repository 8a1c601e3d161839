// SPDX-License-Identifier: GPL-3.0-or-later
// What a later copy sends the first one to have it come forward: the show line, and before it
// the activation tokens the desktop gave the later copy for its start (on Wayland the
// compositor raises a window only for a token of a recent user action; on X11 the startup
// identifier plays that part). Copies from before the tokens send the show line alone, and a
// first copy from before them looks only for the show line, so both directions still work.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qx {

inline constexpr std::string_view kShowLine = "show\n";
// Longer requests are not show requests; a token is far shorter than either bound.
inline constexpr std::size_t kMaxShowRequest = 4096;
inline constexpr std::size_t kMaxActivationToken = 1024;

struct ShowRequest {
    std::string activationToken; // XDG_ACTIVATION_TOKEN of the later copy, or empty
    std::string startupId;       // DESKTOP_STARTUP_ID of the later copy, or empty
};

// The bytes a later copy sends. A token that is empty, too long or not plain printable ASCII
// is left out.
std::string encodeShowRequest(const ShowRequest& request);

// Whether `bytes` may still grow into a show request (no complete line yet, within the bound).
bool mayBeShowRequest(std::string_view bytes);

// The request in `bytes`, or nothing when they are not a complete show request: lines of
// "xdg-activation-token T" or "desktop-startup-id T" (unknown lines are skipped, for later
// additions), ended by the show line. A token that does not pass the checks is dropped, the
// request is still honoured.
std::optional<ShowRequest> decodeShowRequest(std::string_view bytes);

} // namespace qx
