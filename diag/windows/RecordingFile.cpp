// SPDX-License-Identifier: GPL-3.0-or-later
// The recording's file on Windows: it takes the permissions of its folder (a user's own folders
// are the user's alone), so nothing more is set here.
#include "diag/RecordingFile.h"

#include "update/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace qx {

int openRecordingFile(const std::string& path, std::string& error) {
    RegularFile file = RegularFile::open(path, O_WRONLY | O_CREAT | O_TRUNC, _S_IREAD | _S_IWRITE);
    if (!file.ok()) {
        error = file.error();
        return -1;
    }
    return file.release();
}

} // namespace qx
