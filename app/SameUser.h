// Who is on the other end of a local socket: the window program and qx77zt talk only to
// processes of the same user.
#pragma once

#include <QString>
#include <QtGlobal>

namespace qx {

// A text that differs between the users of this machine, for the names of per-user endpoints.
QString currentUserKey();

// True when the process at the other end of a connected local socket (QLocalSocket's
// descriptor) runs as the current user; false when that cannot be told.
bool peerIsCurrentUser(qintptr descriptor);

} // namespace qx
