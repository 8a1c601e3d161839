// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no process groups to kill at once: the command itself is killed (QProcess::kill).
#include "watch/ProcessGroup.h"

namespace qx::watch {

void leadOwnGroup(QProcess&) {}

void killGroup(qint64) {}

} // namespace qx::watch
