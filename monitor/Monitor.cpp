// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/Monitor.h"

#include "app/ConnectionLimits.h"
#include "app/DeviceChangeSettler.h"
#include "app/SameUser.h"
#include "app/SingleInstance.h"
#include "cli/HandOffProtocol.h"
#include "cli/RoomUnits.h"
#include "cli/UnitLock.h"
#include "cli/WindowCliService.h"
#include "monitor/MonitorProtocol.h"
#include "room/UnitRoom.h"
#include "state/StateFiles.h"

#include <QLocalSocket>
#include <QMetaObject>

#include <cstdio>
#include <span>
#include <utility>

namespace qx::monitor {

namespace {

std::filesystem::path fileIn(const std::filesystem::path& folder, const char* name) {
    return folder.empty() ? std::filesystem::path() : folder / name;
}

QByteArray frames(const std::string& error, int status) {
    QByteArray bytes;
    for (const std::vector<uint8_t>& f :
         {cli::encodeAnswer(cli::AnswerKind::Err, error),
          cli::encodeAnswer(cli::AnswerKind::Exit, std::string(1, static_cast<char>(status)))}) {
        bytes.append(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()));
    }
    return bytes;
}

} // namespace

// Send failures of any unit, from the links' threads: noted on the monitor's thread.
class Monitor::ErrorLog : public ErrorSink {
public:
    explicit ErrorLog(Monitor& monitor) : monitor_(&monitor) {}
    void showError(const std::string& text) override {
        QMetaObject::invokeMethod(
            monitor_, [monitor = monitor_, text] { monitor->note(text); }, Qt::QueuedConnection);
    }

private:
    Monitor* monitor_;
};

Monitor::Monitor(MonitorSetup setup, QObject* parent)
    : QObject(parent), setup_(std::move(setup)),
      endpoint_(
          SingleInstance::endpointName(setup_.key, QString::fromStdString(setup_.runtimeFolder))),
      limits_(std::make_unique<ConnectionLimits>()),
      labels_(fileIn(setup_.stateFolder, state::kLabelsFileName)),
      journal_(fileIn(setup_.stateFolder, state::kJournalFileName)),
      errorLog_(std::make_unique<ErrorLog>(*this)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &Monitor::accept);
    limits_->refusal = cli::WindowCliService::tooManyConnections();
    lockRetry_.setSingleShot(true);
    connect(&lockRetry_, &QTimer::timeout, this, &Monitor::take);
    // The server closes itself when it cannot accept a connection (no descriptor left, say):
    // qx77zt would then drive the units beside the monitor.
    relisten_.setInterval(2000);
    connect(&relisten_, &QTimer::timeout, this, [this] {
        if ((state_ == State::Running || state_ == State::Taking) && !server_.isListening()) {
            listen();
        }
    });
    idleCheck_.setInterval(50);
    connect(&idleCheck_, &QTimer::timeout, this, [this] {
        if (!transferRunning()) {
            idleCheck_.stop();
            std::exchange(whenIdle_, {})();
        }
    });
}

Monitor::~Monitor() {
    // The connections go with the server, after this object has half gone: none may call back.
    for (QLocalSocket* peer : server_.findChildren<QLocalSocket*>()) {
        disconnect(peer, nullptr, this, nullptr);
    }
    if (state_ != State::Stopped && state_ != State::Idle) {
        dropUnits("the monitor ended");
    }
    server_.close();
}

bool Monitor::claim() {
    const QString lockName =
        SingleInstance::lockFileName(setup_.key, QString::fromStdString(setup_.runtimeFolder));
    instanceLock_ = std::make_unique<QLockFile>(lockName);
    if (!instanceLock_->tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString app;
        instanceLock_->getLockInfo(&pid, &host, &app);
        error_ = pid > 0
                     ? QStringLiteral("a monitor already runs for this user (process %1)").arg(pid)
                     : QStringLiteral("a monitor already runs for this user (%1 is taken)")
                           .arg(lockName);
        instanceLock_.reset();
        return false;
    }
    for (const std::string& trouble : {labels_.load(), journal_.load()}) {
        if (!trouble.empty()) {
            note(trouble);
        }
    }
    return listen();
}

bool Monitor::listen() {
    if (server_.isListening() || server_.listen(endpoint_)) {
        return true;
    }
    // Left by a monitor that was killed: with the lock ours, nobody listens there.
    if (server_.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(endpoint_);
        if (server_.listen(endpoint_)) {
            return true;
        }
    }
    error_ = QStringLiteral("cannot listen on %1: %2").arg(endpoint_, server_.errorString());
    return false;
}

void Monitor::start() {
    if (state_ == State::Idle) {
        relisten_.start();
        take();
    }
}

void Monitor::accept() {
    while (QLocalSocket* peer = server_.nextPendingConnection()) {
        if (!limits_->admit(peer)) {
            continue;
        }
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { received(peer); });
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    }
}

void Monitor::received(QLocalSocket* peer) {
    limits_->heard(peer);
    const QByteArray bytes = peer->readAll();
    disconnect(peer, &QLocalSocket::readyRead, this, nullptr);
    if (state_ == State::Running && service_ && service_->take(peer, bytes)) {
        commandPeers_.emplace_back(peer);
        return;
    }
    if (!peerIsCurrentUser(peer->socketDescriptor())) {
        peer->abort();
        return;
    }
    if (bytes == kReleaseRequest && (state_ == State::Running || state_ == State::Taking)) {
        release(peer);
        return;
    }
    const auto request = std::span(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size()));
    if (cli::mayBeRequest(request)) {
        // Not driving the units (another program holds them): the request would find none.
        const std::string why = state_ == State::Taking && !lockNote_.empty()
                                    ? "the monitor is waiting for the unit: " + lockNote_
                                    : "the monitor does not hold the units now";
        peer->write(frames("qx77zt: " + why + "\n", cli::kExitUnitFailed));
    }
    peer->disconnectFromServer();
}

void Monitor::release(QLocalSocket* peer) {
    window_ = peer;
    connect(peer, &QLocalSocket::disconnected, this, &Monitor::windowGone);
    peer->write(kReleasing);
    note("the window program asks for the units");
    // qx77zt finds the window program from now on; a request under way is finished or ended.
    server_.close();
    if (state_ == State::Taking) {
        lockRetry_.stop();
        finishRelease();
        return;
    }
    setState(State::Releasing);
    whenIdle([this] { finishRelease(); });
}

void Monitor::finishRelease() {
    if (room_ && setup_.hooks.beforeRelease) {
        setup_.hooks.beforeRelease();
    }
    dropUnits("the monitor handed the units to the window program before the command ended");
    setState(State::Released);
    note("the window program has the units; the monitor takes them back when it ends");
    if (window_) {
        window_->write(kReleased);
    }
}

void Monitor::windowGone() {
    window_ = nullptr;
    if (state_ == State::Releasing) {
        // The window program went before it had the units: the monitor keeps them.
        idleCheck_.stop();
        whenIdle_ = {};
        setState(State::Running);
        note("the window program went before the units were handed over");
        listen();
        return;
    }
    if (state_ != State::Released) {
        return;
    }
    note("the window program has ended");
    listen();
    setState(State::Taking);
    take();
}

void Monitor::take() {
    if (state_ == State::Stopping || state_ == State::Stopped || state_ == State::Released) {
        return;
    }
    setState(State::Taking);
    if (setup_.unitLock) {
        auto lock = std::make_unique<cli::UnitLock>(setup_.runtimeFolder);
        std::string trouble;
        switch (lock->take(cli::kMonitorHolder, std::chrono::milliseconds(0))) {
        case cli::UnitLock::Result::Taken:
            unitLock_ = std::move(lock);
            break;
        case cli::UnitLock::Result::Busy:
            trouble = lock->holder() == cli::kWindowHolder
                          ? std::string("the window program has it")
                          : "qx77zt (" + lock->holder() + ") has it";
            break;
        case cli::UnitLock::Result::Failed:
            trouble = "its lock cannot be taken (" + lock->error() + ")";
            break;
        }
        if (!unitLock_) {
            if (trouble != lockNote_) {
                lockNote_ = trouble;
                note("waiting for the unit: " + trouble);
            }
            lockRetry_.start(setup_.lockRetry);
            return;
        }
    }
    lockNote_.clear();
    note(everTaken_ ? "the monitor takes the units back" : "the monitor drives the units");
    if (!startUnits()) {
        exitStatus_ = 1;
        stop();
        return;
    }
    setState(State::Running);
    if (everTaken_ && setup_.hooks.afterTake) {
        setup_.hooks.afterTake();
    }
    everTaken_ = true;
}

bool Monitor::startUnits() {
    room::UnitRoom::Setup setup;
    setup.image = setup_.image;
    if (setup_.roomLoader) {
        setup.libraryLoaded = setup_.roomLoader();
    }
    setup.errors = errorLog_.get();
    setup.deviceEvent = [this] {
        if (deviceChanges_) {
            deviceChanges_->changed();
        }
    };
    setup.labels = &labels_;
    // No meters here: the room keeps every unit's levels and latches.
    setup.shownFedByView = false;
    room_ = std::make_unique<room::UnitRoom>(std::move(setup));
    room::UnitRoom& room = *room_;
    connect(&room, &room::UnitRoom::unitAdded, this, [this, &room](int index) {
        answers_.emplace_back();
        room.unit(index).answers().command = &answers_.back();
    });
    connect(&room, &room::UnitRoom::unitChanged, this, &Monitor::noteUnitChanged);
    connect(&room, &room::UnitRoom::unitRefused, this,
            [this](const QString& text) { note(text.toStdString()); });
    connect(
        &room, &room::UnitRoom::profileApplied, this,
        [this, &room](int index, const QString& error) {
            if (!error.isEmpty()) {
                note("the settings file of unit " + room.unit(index).name() +
                     " was not written to it: " + error.toStdString());
            }
        },
        Qt::QueuedConnection);
    // One reconnection per plug or unplug, once udev is done with its burst of events.
    deviceChanges_ = std::make_unique<DeviceChangeSettler>(
        [&room] {
            room.followDeviceChange();
            return true;
        },
        DeviceChangeSettler::Timing{}, &udevEventsQueued);
    service_ = std::make_unique<cli::WindowCliService>(
        [this, &room] { return cli::roomUnits(room, answers_); });
    service_->journal = &journal_;
    service_->program = "the monitor";
    if (setup_.hooks.started) {
        setup_.hooks.started(room);
    }
    if (!room.start()) {
        note("the HID library cannot be loaded: " + room.lastError());
        return false;
    }
    return true;
}

void Monitor::dropUnits(const std::string& why) {
    // The requests end first (a transfer has finished already; a --watch stops here), then the
    // links; a peer still waiting is told why its command ended.
    service_.reset();
    for (const QPointer<QLocalSocket>& peer : std::exchange(commandPeers_, {})) {
        if (peer && peer->state() == QLocalSocket::ConnectedState) {
            peer->write(frames("qx77zt: " + why + "\n", cli::kExitUnitFailed));
            peer->disconnectFromServer();
        }
    }
    deviceChanges_.reset();
    room_.reset();
    answers_.clear();
    unitStates_.clear();
    unitLock_.reset();
}

bool Monitor::transferRunning() const {
    if (!room_) {
        return false;
    }
    for (int i = 0; i < room_->count(); ++i) {
        if (room_->unit(i).link().transferRunning) {
            return true;
        }
    }
    return false;
}

void Monitor::whenIdle(std::function<void()> then) {
    whenIdle_ = std::move(then);
    if (transferRunning()) {
        note("a firmware transfer is under way: it is finished first");
    }
    // Also when idle now: from the event loop, never from inside the caller.
    idleCheck_.start();
}

void Monitor::stop() {
    if (state_ == State::Stopping || state_ == State::Stopped) {
        return;
    }
    setState(State::Stopping);
    lockRetry_.stop();
    server_.close();
    whenIdle([this] { finishStop(); });
}

void Monitor::finishStop() {
    if (setup_.hooks.stopping) {
        setup_.hooks.stopping();
    }
    dropUnits("the monitor is ending");
    if (window_) {
        window_->disconnectFromServer();
    }
    setState(State::Stopped);
    note("the monitor has ended");
    emit stopped();
}

void Monitor::setState(State state) {
    if (state_ != state) {
        state_ = state;
        emit stateChanged(state);
    }
}

void Monitor::note(const std::string& given) {
    // Names come from the devices too: no control character reaches a terminal.
    std::string text = given;
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    if (setup_.hooks.log) {
        setup_.hooks.log(text);
    } else {
        std::fprintf(stderr, "qx77zt monitor: %s\n", text.c_str());
        std::fflush(stderr);
    }
}

void Monitor::noteUnitChanged(int index) {
    if (!room_ || index < 0 || index >= room_->count()) {
        return;
    }
    unitStates_.resize(static_cast<std::size_t>(room_->count()));
    const room::RoomUnit& u = room_->unit(index);
    const std::string word = room::stateWord(u.state());
    std::string& last = unitStates_[static_cast<std::size_t>(index)];
    if (word != last) {
        last = word;
        note("unit " + u.name() + ": " + word);
    }
}

} // namespace qx::monitor
