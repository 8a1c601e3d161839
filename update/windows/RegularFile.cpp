// SPDX-License-Identifier: GPL-3.0-or-later
// Opening with the C run-time by the file's UTF-16 name: a folder, a device name or a pipe is
// refused, and the descriptor is not handed to child processes.
#include "update/RegularFile.h"

#include "state/Utf8Path.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace qx {

RegularFile RegularFile::open(const std::string& path, int flags, unsigned mode) {
    RegularFile file;
    const auto refuse = [&file](int err, std::string reason) {
        file.errno_ = err;
        file.error_ = std::move(reason);
        return std::move(file);
    };
    const std::wstring name = utf8Path(path).wstring();
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return refuse(EISDIR, std::strerror(EISDIR));
    }
    const int fd = ::_wopen(name.c_str(), flags | _O_BINARY | _O_NOINHERIT,
                            static_cast<int>(mode & (_S_IREAD | _S_IWRITE)));
    if (fd < 0) {
        const int err = errno;
        return refuse(err, std::strerror(err));
    }
    file.fd_ = fd;
    // Names such as CON or NUL and pipes open as something else than a file on a disk.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        file.reset();
        return refuse(ENOTSUP, "Not a regular file: it is a device or a pipe");
    }
    return file;
}

void RegularFile::reset() {
    if (fd_ >= 0) {
        ::_close(fd_);
        fd_ = -1;
    }
}

} // namespace qx
