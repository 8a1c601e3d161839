// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/ProcessGroup.h"

#include <QProcess>

#include <signal.h>
#include <unistd.h>

namespace qx::watch {

void leadOwnGroup(QProcess& process) {
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void killGroup(qint64 leader) {
    if (leader > 0) {
        ::kill(static_cast<pid_t>(-leader), SIGKILL);
    }
}

} // namespace qx::watch
