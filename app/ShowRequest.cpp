// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ShowRequest.h"

#include <algorithm>

namespace qx {

namespace {

constexpr std::string_view kActivationKey = "xdg-activation-token ";
constexpr std::string_view kStartupKey = "desktop-startup-id ";

// Tokens go into the environment and into a compositor's request: nothing but visible ASCII.
bool plainToken(std::string_view token) {
    return !token.empty() && token.size() <= kMaxActivationToken &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

} // namespace

std::string encodeShowRequest(const ShowRequest& request) {
    std::string out;
    if (plainToken(request.activationToken)) {
        out.append(kActivationKey).append(request.activationToken).push_back('\n');
    }
    if (plainToken(request.startupId)) {
        out.append(kStartupKey).append(request.startupId).push_back('\n');
    }
    out.append(kShowLine);
    return out;
}

bool mayBeShowRequest(std::string_view bytes) {
    return bytes.size() < kMaxShowRequest && (bytes.empty() || bytes.back() != '\n');
}

std::optional<ShowRequest> decodeShowRequest(std::string_view bytes) {
    if (bytes.size() > kMaxShowRequest) {
        return std::nullopt;
    }
    ShowRequest request;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt; // a line cut short: not (yet) a request
        }
        const std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end + 1);
        if (line == kShowLine.substr(0, kShowLine.size() - 1)) {
            // Whatever follows the show line is not part of it.
            return request;
        }
        if (line.starts_with(kActivationKey)) {
            const std::string_view token = line.substr(kActivationKey.size());
            request.activationToken = plainToken(token) ? std::string(token) : std::string();
        } else if (line.starts_with(kStartupKey)) {
            const std::string_view token = line.substr(kStartupKey.size());
            request.startupId = plainToken(token) ? std::string(token) : std::string();
        }
    }
    return std::nullopt;
}

} // namespace qx
