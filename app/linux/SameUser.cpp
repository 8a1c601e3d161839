// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SameUser.h"

#include <QDir>

#include <sys/socket.h>
#include <unistd.h>

namespace qx {

QString currentUserKey() {
    return QString::number(::getuid());
}

QString userEndpoint(const QString& key, const QString& folder) {
    return QDir(folder).filePath(key);
}

bool peerIsCurrentUser(qintptr descriptor) {
    ucred cred{};
    socklen_t size = sizeof cred;
    if (descriptor < 0 ||
        ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 ||
        size != sizeof cred) {
        return false;
    }
    return cred.uid == ::getuid();
}

} // namespace qx
