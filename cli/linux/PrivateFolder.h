// SPDX-License-Identifier: GPL-3.0-or-later
// The checks behind userRuntimeFolder() on Linux, for a given user and given roots.
#pragma once

#include "cli/UserRuntime.h"

#include <string>

#include <sys/types.h>

namespace qx::cli {

// Empty when `path` is a folder (not a link) owned by `uid` that no one else may enter; otherwise
// why not. With `create`, a missing folder is made first (mode 0700).
std::string checkPrivateFolder(const std::string& path, uid_t uid, bool create);

// `sessionRoot`/<uid> when it passes the checks, else `tempRoot`/qx77zt-<uid> (made when missing).
RuntimeFolder chooseRuntimeFolder(uid_t uid, const std::string& sessionRoot,
                                  const std::string& tempRoot);

} // namespace qx::cli
