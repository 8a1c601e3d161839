// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the frame check and, cut into input reports, to the receiver.
#include "link/LinkFrame.h"
#include "link/Transport.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so any read past the end is caught.
    std::vector<uint8_t> exact(data, data + size);
    (void)qx::checkFrame(exact);

    static qx::LinkState link;
    static qx::Receiver receiver(link, nullptr);
    for (size_t at = 0; at < size; at += 65) {
        THIDreport r{};
        std::memcpy(&r, data + at, std::min<size_t>(65, size - at));
        receiver.onInputReport(r, 64);
        if (receiver.bufferedBytes() > 65535 + 58) {
            __builtin_trap();
        }
    }
    return 0;
}
