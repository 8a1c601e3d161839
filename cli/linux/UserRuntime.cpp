// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/UserRuntime.h"

#include "cli/linux/PrivateFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace qx::cli {

std::string checkPrivateFolder(const std::string& path, uid_t uid, bool create) {
    if (create && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return "cannot make " + path + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return "cannot use " + path + ": " + std::strerror(errno);
    }
    if (S_ISLNK(st.st_mode)) {
        return path + " is a symbolic link; not used";
    }
    if (!S_ISDIR(st.st_mode)) {
        return path + " is not a folder; not used";
    }
    if (st.st_uid != uid) {
        return path + " belongs to another user; not used";
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return path + " is open to other users (mode " + mode + "); not used";
    }
    return {};
}

RuntimeFolder chooseRuntimeFolder(uid_t uid, const std::string& sessionRoot,
                                  const std::string& tempRoot) {
    const std::string id = std::to_string(uid);
    // The session's folder is made by the system at login; never by us.
    if (std::string session = sessionRoot + "/" + id;
        checkPrivateFolder(session, uid, false).empty()) {
        return {std::move(session), {}};
    }
    std::string temp = tempRoot + "/qx77zt-" + id;
    if (std::string error = checkPrivateFolder(temp, uid, true); !error.empty()) {
        return {{}, std::move(error)};
    }
    return {std::move(temp), {}};
}

RuntimeFolder userRuntimeFolder() {
    const uid_t uid = ::geteuid();
    if (const char* chosen = std::getenv("QX77ZT_RUNTIME_DIR");
        chosen != nullptr && *chosen != '\0') {
        if (std::string error = checkPrivateFolder(chosen, uid, true); !error.empty()) {
            return {{}, std::move(error)};
        }
        return {chosen, {}};
    }
    return chooseRuntimeFolder(uid, "/run/user", "/tmp");
}

} // namespace qx::cli
