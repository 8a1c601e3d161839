// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's command leads a process group of its own, so that a script's children end with
// it when it is killed at its limit.
#pragma once

#include <QtGlobal>

class QProcess;

namespace qx::watch {

// Before start(): the process leads a new group (nothing on a system without groups).
void leadOwnGroup(QProcess& process);
// Kills every process of the group `leader` leads; nothing for 0.
void killGroup(qint64 leader);

} // namespace qx::watch
