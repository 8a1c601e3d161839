// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/UnitLock.h"

namespace qx::cli {

std::string printableText(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            text += c;
        }
    }
    return text;
}

std::string unitBusyText(const std::string& holder) {
    if (holder == "update") {
        return "a firmware update is already running (another qx77zt)";
    }
    if (holder == kWindowHolder) {
        return "the QX-77ZT window program is using the unit and does not answer on its socket";
    }
    if (holder == kMonitorHolder) {
        return "the monitor (qx77zt monitor) is using the unit and does not answer on its socket";
    }
    return "another qx77zt command is using the unit (" + holder + ")";
}

} // namespace qx::cli
