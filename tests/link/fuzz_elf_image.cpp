// SPDX-License-Identifier: GPL-3.0-or-later
// The image check must refuse, never read outside, whatever bytes it is given.
#include "link/linux/ElfImage.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> exact(data, data + size);
    (void)qx::checkElfImage(exact);
    (void)qx::elfBuildId(exact);
    return 0;
}
