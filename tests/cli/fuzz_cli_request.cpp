// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever arrives on the window program's socket: the request decoder and the argument parser
// behind it, and the answer decoder on the other side, must take any bytes without reading
// outside them.
#include "cli/CliArgs.h"
#include "cli/HandOffProtocol.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    // As a request: once with the magic in front, so the body is reached, and once as it is.
    std::vector<std::uint8_t> framed(qx::cli::kRequestMagic.begin(), qx::cli::kRequestMagic.end());
    framed.insert(framed.end(), bytes.begin(), bytes.end());
    for (const std::span<const std::uint8_t> input :
         {std::span<const std::uint8_t>(framed), bytes}) {
        const qx::cli::DecodedRequest r = qx::cli::decodeRequest(input);
        if (r.status == qx::cli::DecodedRequest::Complete) {
            const qx::cli::ParsedArgs parsed = qx::cli::parseArgs(r.args);
            if (parsed.request) {
                qx::cli::argsOf(*parsed.request);
            }
        }
    }
    std::size_t at = 0;
    while (at < size) {
        const qx::cli::DecodedAnswer a = qx::cli::decodeAnswer(bytes.subspan(at));
        if (a.status != qx::cli::DecodedAnswer::Complete) {
            break;
        }
        at += a.consumed;
    }
    return 0;
}
