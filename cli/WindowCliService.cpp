// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WindowCliService.h"

#include "app/SameUser.h"
#include "cli/HandOffProtocol.h"
#include "cli/SeveralStatus.h"
#include "cli/UnitRouting.h"

#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <mutex>
#include <span>
#include <thread>

namespace qx::cli {

// One request: reads it, runs it on a thread of its own and sends what it prints back. Lives on
// the user interface thread; ends itself once the command has ended, whether or not the peer is
// still there.
class WindowCliService::Session : public QObject, public CliOutput {
    Q_OBJECT
public:
    Session(WindowCliService& service, QLocalSocket* peer, const QByteArray& received)
        : QObject(&service), service_(service), peer_(peer) {
        connect(this, &Session::answerQueued, this, &Session::flush, Qt::QueuedConnection);
        connect(this, &Session::fellBehind, this, &Session::cutOff, Qt::QueuedConnection);
        connect(peer, &QLocalSocket::readyRead, this, [this] { receive(peer_->readAll()); });
        connect(peer, &QLocalSocket::bytesWritten, this, &Session::noteBacklog);
        connect(peer, &QLocalSocket::disconnected, this, &Session::peerGone);
        QTimer::singleShot(service.requestPatience, this, [this] {
            if (!started_) {
                refuse("the request did not arrive in time");
            }
        });
        receive(received);
    }

    ~Session() override {
        if (command_.joinable()) {
            command_.request_stop();
            command_.join();
        }
    }

    // CliOutput, on the command's thread.
    void write(bool error, std::string_view text) override {
        queue(encodeAnswer(error ? AnswerKind::Err : AnswerKind::Out, text));
    }

signals:
    void answerQueued();
    // The peer has left more than the limit unread; what the command prints now is dropped.
    void fellBehind();

private:
    // Any thread. Frames past the limit of unsent bytes are dropped, and the first of them ends
    // the command: a peer that stopped reading (a pager, a suspended job) must not make this
    // program keep every line of a watch.
    void queue(std::vector<uint8_t> frame) {
        bool over = false;
        {
            std::lock_guard lock(mutex_);
            if (cut_) {
                return;
            }
            if (queuedBytes_ + backlog_ + frame.size() > service_.unsentLimit) {
                cut_ = true;
                over = true;
            } else {
                queuedBytes_ += frame.size();
                queued_.push_back(std::move(frame));
            }
        }
        if (over) {
            emit fellBehind();
        } else {
            emit answerQueued();
        }
    }

    // What waits in the socket for the peer, as the limit counts it.
    void noteBacklog() {
        const std::size_t unsent =
            peer_ ? static_cast<std::size_t>(std::max<qint64>(peer_->bytesToWrite(), 0)) : 0;
        std::lock_guard lock(mutex_);
        backlog_ = unsent;
    }

    // Ends the command and tells the peer why, past the limit: the peer learns it once it reads
    // again. The command's own end is dropped with everything else it prints from now on.
    void cutOff() {
        command_.request_stop();
        const std::string why = "qx77zt: " + service_.program +
                                " ended the command: its output was not being read (" +
                                std::to_string(service_.unsentLimit / 1024) + " KiB waiting)\n";
        {
            std::lock_guard lock(mutex_);
            for (auto frame : {encodeAnswer(AnswerKind::Err, why),
                               encodeAnswer(AnswerKind::Exit,
                                            std::string(1, static_cast<char>(kExitUnitFailed)))}) {
                queuedBytes_ += frame.size();
                queued_.push_back(std::move(frame));
            }
        }
        answered_ = true;
        flush();
    }

    void receive(const QByteArray& bytes) {
        if (started_ || refused_) {
            return;
        }
        // Never more than a request can hold: the rest is not even buffered.
        const std::size_t room = kRequestMagic.size() + 4 + kMaxRequestBody + 1 - buffer_.size();
        buffer_.insert(buffer_.end(), bytes.begin(),
                       bytes.begin() +
                           std::min<qsizetype>(bytes.size(), static_cast<qsizetype>(room)));
        const DecodedRequest decoded = decodeRequest(buffer_);
        if (decoded.status == DecodedRequest::Refused) {
            refuse(decoded.error);
        } else if (decoded.status == DecodedRequest::Complete) {
            start(decoded.args);
        }
    }

    void refuse(const std::string& why) {
        refused_ = true;
        write(true, "qx77zt: " + service_.program + " refused the request: " + why + "\n");
        finish(kExitUsage);
    }

    void finish(int status) {
        queue(encodeAnswer(AnswerKind::Exit, std::string(1, static_cast<char>(status))));
        done_ = true;
    }

    void start(const std::vector<std::string>& args) {
        const ParsedArgs parsed = parseArgs(args);
        if (!parsed.request) {
            write(true, "qx77zt: " + parsed.error + "\n");
            finish(kExitUsage);
            return;
        }
        const CliRequest& r = *parsed.request;
        if (r.help || r.command == Command::List || r.command == Command::Diag ||
            r.command == Command::Label || r.command == Command::Events ||
            r.command == Command::None || r.command == Command::Monitor) {
            write(true, "qx77zt: " + service_.program + " runs only commands for its unit\n");
            finish(kExitUsage);
            return;
        }
        const std::vector<WindowUnit> units = service_.units_();
        const Routing routing = routeRequest(r, namesOf(units));
        if (!routing.error.empty()) {
            write(true, "qx77zt: " + routing.error + "\n");
            finish(routing.status);
            return;
        }
        std::vector<WindowUnit> targets;
        for (const std::size_t i : routing.targets) {
            targets.push_back(units[i]);
        }
        for (const WindowUnit& unit : targets) {
            if (!unit.inaccessible.empty()) {
                write(true, "qx77zt: " + unit.inaccessible + "\n");
                finish(kExitNoPermission);
                return;
            }
        }
        started_ = true;
        command_ = std::jthread([this, r, targets](std::stop_token stop) {
            const auto runOn = [this, &r, &stop](const WindowUnit& unit, CliOutput& out) {
                UnitContext context{*unit.link, *unit.answers, unit.unit};
                context.answerLimit = service_.answerLimit;
                context.verdictLimit = service_.verdictLimit;
                context.watchInterval = service_.watchInterval;
                context.journal = service_.journal;
                return runUnitCommand(r, context, out, stop);
            };
            int status = kExitDone;
            if (targets.size() == 1) {
                status = runOn(targets.front(), *this);
            } else {
                std::vector<StatusTarget> several;
                for (const WindowUnit& unit : targets) {
                    several.push_back(
                        {unit.path, unit.unit.serial, unit.place, unit.label, unit.unit.boot,
                         [&runOn, &unit](CliOutput& out) { return runOn(unit, out); }});
                }
                status = statusOfSeveral(r, several, *this);
            }
            queue(encodeAnswer(AnswerKind::Exit, std::string(1, static_cast<char>(status))));
            ended_ = true;
            emit answerQueued();
        });
    }

    static std::vector<UnitName> namesOf(const std::vector<WindowUnit>& units) {
        std::vector<UnitName> names;
        for (const WindowUnit& u : units) {
            names.push_back(
                {u.unit.serial, u.place, u.label, u.state, u.connected || !u.inaccessible.empty()});
        }
        return names;
    }

    void flush() {
        std::deque<std::vector<uint8_t>> frames;
        // Read with the frames: the command queues its last frame before it says it has ended,
        // so an end seen here comes with that frame. Seen after the frames were taken, it could
        // close the socket before the last frame was written.
        bool ended = false;
        {
            std::lock_guard lock(mutex_);
            ended = ended_;
            frames.swap(queued_);
            queuedBytes_ = 0;
        }
        if (peer_) {
            for (const std::vector<uint8_t>& f : frames) {
                peer_->write(reinterpret_cast<const char*>(f.data()),
                             static_cast<qint64>(f.size()));
            }
        }
        noteBacklog();
        // The socket sends what it holds before it closes.
        if ((done_ || ended || answered_) && peer_ &&
            peer_->state() == QLocalSocket::ConnectedState) {
            peer_->disconnectFromServer();
        }
        // A command still running (an update runs to its end) is waited for first.
        if (done_ || ended) {
            deleteLater();
        }
    }

    void peerGone() {
        // A --watch ends when its peer goes; any other command finishes what it started.
        if (command_.joinable()) {
            command_.request_stop();
        } else {
            deleteLater();
        }
    }

    WindowCliService& service_;
    QPointer<QLocalSocket> peer_;
    std::vector<uint8_t> buffer_;
    bool started_ = false; // user interface thread only
    bool refused_ = false;
    bool done_ = false;     // the answer is complete and no command runs
    bool answered_ = false; // the answer is complete; the command may still be ending
    std::atomic<bool> ended_{false};
    std::mutex mutex_;
    std::deque<std::vector<uint8_t>> queued_; // guarded by mutex_
    std::size_t queuedBytes_ = 0;             // guarded by mutex_
    std::size_t backlog_ = 0;                 // guarded by mutex_; the socket's unsent bytes
    bool cut_ = false;                        // guarded by mutex_
    std::jthread command_;
};

WindowCliService::WindowCliService(std::function<std::vector<WindowUnit>()> units, QObject* parent)
    : QObject(parent), units_(std::move(units)) {}

WindowCliService::~WindowCliService() {
    // Sessions are children: deleting them here joins their commands before the link goes.
    qDeleteAll(findChildren<Session*>(QString(), Qt::FindDirectChildrenOnly));
}

QByteArray WindowCliService::tooManyConnections() {
    QByteArray answer;
    for (const std::vector<uint8_t>& frame :
         {encodeAnswer(AnswerKind::Err, "qx77zt: the window program has too many connections "
                                        "open; try again later\n"),
          encodeAnswer(AnswerKind::Exit, std::string(1, static_cast<char>(kExitUnitFailed)))}) {
        answer.append(reinterpret_cast<const char*>(frame.data()),
                      static_cast<qsizetype>(frame.size()));
    }
    return answer;
}

bool WindowCliService::take(QLocalSocket* peer, const QByteArray& received) {
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(received.constData()),
                                 static_cast<std::size_t>(received.size()));
    if (!mayBeRequest(bytes)) {
        return false;
    }
    // The socket's folder and mode keep other users out already; this holds even where they
    // do not (a shared temporary folder).
    if (!peerIsCurrentUser(peer->socketDescriptor())) {
        peer->abort();
        return true;
    }
    new Session(*this, peer, received);
    return true;
}

} // namespace qx::cli

#include "WindowCliService.moc"
