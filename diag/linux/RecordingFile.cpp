// SPDX-License-Identifier: GPL-3.0-or-later
// The recording's file with POSIX modes: 0600, also when an earlier file of that name had more.
#include "diag/RecordingFile.h"

#include "update/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx {

int openRecordingFile(const std::string& path, std::string& error) {
    RegularFile file = RegularFile::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!file.ok()) {
        error = file.error();
        return -1;
    }
    // A file that was there keeps its mode through the truncation. A file system without modes
    // (FAT on a stick) refuses the change, and its files are the mounting user's anyway; a file
    // of another user that others may read is refused.
    struct stat st {};
    if (::fstat(file.fd(), &st) == 0 && (st.st_mode & 077) != 0 && ::fchmod(file.fd(), 0600) != 0 &&
        st.st_uid != ::geteuid()) {
        error = "it belongs to another user, and others may read it";
        return -1;
    }
    return file.release();
}

} // namespace qx
