// SPDX-License-Identifier: GPL-3.0-or-later
#include "background/Autostart.h"

namespace qx::background {

AutostartEntry autostartEntry(bool demo, const QString& program) {
    if (demo) {
        return {QStringLiteral("qx77zt-demo.desktop"), QStringLiteral("QX-77ZT (demo)"), program};
    }
    return {QStringLiteral("qx77zt.desktop"), QStringLiteral("QX-77ZT"), program};
}

} // namespace qx::background
