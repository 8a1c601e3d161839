// SPDX-License-Identifier: GPL-3.0-or-later
// A local socket is a named pipe here, and its name space is shared by every session of the
// machine: the user is told by the security identifier of each process's token.
#include "app/SameUser.h"

#include <memory>
#include <vector>

#include <windows.h>

#include <sddl.h>

namespace qx {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The token's user record (a TOKEN_USER with its SID behind it); empty when it cannot be read.
std::vector<unsigned char> tokenUser(HANDLE process) {
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_QUERY, &token) == 0) {
        return {};
    }
    const Handle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER)) {
        return {};
    }
    std::vector<unsigned char> record(size);
    if (GetTokenInformation(token, TokenUser, record.data(), size, &size) == 0) {
        return {};
    }
    return record;
}

PSID sidOf(std::vector<unsigned char>& record) {
    return reinterpret_cast<TOKEN_USER*>(record.data())->User.Sid;
}

// True when the process runs as the same user as this one.
bool processIsCurrentUser(ULONG pid) {
    std::vector<unsigned char> own = tokenUser(GetCurrentProcess());
    if (own.empty()) {
        return false;
    }
    if (pid == GetCurrentProcessId()) {
        return true;
    }
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return false;
    }
    std::vector<unsigned char> other = tokenUser(process.get());
    return !other.empty() && EqualSid(sidOf(own), sidOf(other)) != 0;
}

} // namespace

QString currentUserKey() {
    std::vector<unsigned char> own = tokenUser(GetCurrentProcess());
    LPWSTR text = nullptr;
    if (own.empty() || ConvertSidToStringSidW(sidOf(own), &text) == 0) {
        return QStringLiteral("unknown");
    }
    const QString key = QString::fromWCharArray(text);
    LocalFree(text);
    return key;
}

QString userEndpoint(const QString& key, const QString&) {
    return key + QLatin1Char('-') + currentUserKey();
}

bool peerIsCurrentUser(qintptr descriptor) {
    // Both ends are asked, so the same call serves the server's and the client's side.
    const auto pipe = reinterpret_cast<HANDLE>(descriptor);
    ULONG client = 0;
    ULONG server = 0;
    if (descriptor == 0 || descriptor == -1 || GetNamedPipeClientProcessId(pipe, &client) == 0 ||
        GetNamedPipeServerProcessId(pipe, &server) == 0) {
        return false;
    }
    return processIsCurrentUser(client) && processIsCurrentUser(server);
}

} // namespace qx
