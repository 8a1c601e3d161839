// SPDX-License-Identifier: GPL-3.0-or-later
// Who is on the other end of a local socket: the window program and qx77zt talk only to
// processes of the same user.
#pragma once

#include <QString>
#include <QtGlobal>

namespace qx {

// A text that differs between the users of this machine, for the names of per-user endpoints.
QString currentUserKey();

// The name a local server of this user listens on for `key`: a socket in the user's private
// runtime folder `folder` on Linux; on Windows a named pipe, whose name space every user shares,
// named with currentUserKey() (`folder` is not part of it).
QString userEndpoint(const QString& key, const QString& folder);

// True when the process at the other end of a connected local socket (QLocalSocket's
// descriptor) runs as the current user; false when that cannot be told.
bool peerIsCurrentUser(qintptr descriptor);

} // namespace qx
