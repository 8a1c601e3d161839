// SPDX-License-Identifier: GPL-3.0-or-later
// The one folder where the window program and qx77zt keep what only this user's running processes
// share: the single-instance lock and socket and the unit lock. Both programs must find the same
// folder whatever their environment (a desktop session, cron, `su`), and no other user may have
// put anything there.
#pragma once

#include <string>

namespace qx::cli {

struct RuntimeFolder {
    std::string path;  // empty when no usable folder was found
    std::string error; // why, when path is empty
};

// Linux: QX77ZT_RUNTIME_DIR when set (a private set of programs, as tests run them); otherwise
// /run/user/<uid> when it is a folder of this user closed to others (the session's runtime
// folder, there while the user has a session), else /tmp/qx77zt-<uid>, made 0700 when missing.
// XDG_RUNTIME_DIR and TMPDIR are not read: cron and `su` leave them unset or set them otherwise,
// and the two programs would then miss each other. A folder that is a link, belongs to another
// user or is open to others is refused, never used or repaired.
// Windows: the user's own temporary folder.
RuntimeFolder userRuntimeFolder();

} // namespace qx::cli
