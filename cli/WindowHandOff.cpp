// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WindowHandOff.h"

#include "app/SameUser.h"
#include "cli/HandOffProtocol.h"
#include "cli/WindowCliService.h"

#include <QLocalSocket>

#include <filesystem>
#include <span>

namespace qx::cli {

namespace {

constexpr int kConnectMs = 1000;
constexpr int kPollMs = 100;

// The window program does not share this process's working folder.
CliRequest withAbsolutePaths(CliRequest request) {
    if (request.command == Command::Save || request.command == Command::Load ||
        request.command == Command::Update) {
        for (std::string& file : request.operands) {
            std::error_code ignored;
            const std::filesystem::path absolute = std::filesystem::absolute(file, ignored);
            if (!absolute.empty()) {
                file = absolute.string();
            }
        }
    }
    return request;
}

} // namespace

std::optional<int> handToWindow(const QString& endpoint, const CliRequest& request, CliOutput& out,
                                std::stop_token stop, std::string_view program) {
    QLocalSocket socket;
    socket.connectToServer(endpoint);
    if (!socket.waitForConnected(kConnectMs)) {
        return std::nullopt;
    }
    // Another user's listener is no window program of ours: nothing is sent to it, and the
    // command goes on as when none runs.
    if (!peerIsCurrentUser(socket.socketDescriptor())) {
        return std::nullopt;
    }
    const std::vector<uint8_t> bytes = encodeRequest(argsOf(withAbsolutePaths(request)));
    socket.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));

    std::vector<uint8_t> buffer;
    for (;;) {
        if (stop.stop_requested()) {
            // Leaving ends a --watch over there; anything else finishes without us.
            socket.disconnectFromServer();
            return kExitDone;
        }
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kPollMs)) {
            if (socket.state() != QLocalSocket::ConnectedState) {
                out.fail(std::string(program) + " ended the request without an answer");
                return kExitUnitFailed;
            }
            continue;
        }
        const QByteArray received = socket.readAll();
        buffer.insert(buffer.end(), received.begin(), received.end());
        for (;;) {
            const DecodedAnswer frame = decodeAnswer(buffer);
            if (frame.status == DecodedAnswer::Refused) {
                out.fail(std::string(program) + "'s answer is garbled");
                return kExitUnitFailed;
            }
            if (frame.status == DecodedAnswer::Incomplete) {
                break;
            }
            buffer.erase(buffer.begin(),
                         buffer.begin() + static_cast<std::ptrdiff_t>(frame.consumed));
            switch (frame.kind) {
            case AnswerKind::Out:
            case AnswerKind::Err:
                out.write(frame.kind == AnswerKind::Err, frame.payload);
                break;
            case AnswerKind::Exit:
                return static_cast<unsigned char>(frame.payload[0]);
            }
        }
    }
}

} // namespace qx::cli
