// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the file a traffic recording goes to. It is a file the operator named in a dialog, so
// only a regular file is opened (a named pipe would block the window, a device would act on
// the open), and it holds the unit's serial number and every firmware block sent, so only its
// owner may read it.
#pragma once

#include <string>

namespace qx {

// Creates or truncates `path` for writing; the descriptor on success (the caller closes it),
// else -1 with `error` saying why.
int openRecordingFile(const std::string& path, std::string& error);

} // namespace qx
