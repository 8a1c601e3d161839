// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever a process sends the first copy's endpoint as a show request: read without going
// outside the bytes, and a request read back is one that encodes to a show request again.
#include "app/ShowRequest.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    qx::mayBeShowRequest(bytes);
    if (const std::optional<qx::ShowRequest> request = qx::decodeShowRequest(bytes)) {
        const std::optional<qx::ShowRequest> again =
            qx::decodeShowRequest(qx::encodeShowRequest(*request));
        if (!again || again->activationToken != request->activationToken ||
            again->startupId != request->startupId) {
            std::abort();
        }
    }
    return 0;
}
