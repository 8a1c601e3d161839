// SPDX-License-Identifier: GPL-3.0-or-later
// The headless monitor: drives every unit in a room of its own with no window, answers qx77zt's
// requests on an endpoint of its own, and hands the units over to the window program for as long
// as that runs.
//
// Only one process drives the units. The monitor holds the unit lock (holder "monitor") while it
// drives them; when the window program asks on the endpoint, the monitor stops serving qx77zt,
// lets a transfer under way finish, calls beforeRelease(), stops its links, lets go of the unit
// lock and answers "released". It then waits for that connection to close (the window program
// ended, or died) and takes the lock again, retrying while another program holds it.
//
// Main thread only.
#pragma once

#include "cli/AnswerBox.h"
#include "link/USB.h"
#include "monitor/MonitorHooks.h"
#include "state/UnitLabels.h"
#include "state/UpdateJournal.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalSocket;

namespace qx {
class ConnectionLimits;
class DeviceChangeSettler;
namespace cli {
class UnitLock;
class WindowCliService;
} // namespace cli
namespace room {
class UnitRoom;
}
} // namespace qx

namespace qx::monitor {

struct MonitorSetup {
    // The user's runtime folder (cli::userRuntimeFolder()): the endpoint, its lock, the unit lock.
    std::string runtimeFolder;
    // The endpoint's name (kMonitorInstanceKey, or the demo's).
    QString key;
    // Whether the unit lock is held while driving; the demo's virtual units are its own.
    bool unitLock = true;
    // The HID library image every copy is loaded from.
    UsbLink::ImageSource image;
    // Gives, for each room made, what runs with each copy of the library once loaded (the demo
    // plugs in its virtual units there); empty: nothing.
    std::function<std::function<void(LoadedLibrary&)>()> roomLoader;
    // Where the labels and the update journal are kept; empty: in memory only.
    std::filesystem::path stateFolder;
    // How often a busy unit lock is tried again.
    std::chrono::milliseconds lockRetry{500};
    MonitorHooks hooks;
};

class Monitor : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,      // before start()
        Taking,    // waiting for the unit lock (another program has the units)
        Running,   // driving the units and serving qx77zt
        Releasing, // handing the units over: a transfer under way is finishing
        Released,  // the window program has the units
        Stopping,  // ending: a transfer under way is finishing
        Stopped,
    };

    explicit Monitor(MonitorSetup setup, QObject* parent = nullptr);
    ~Monitor() override;

    // Becomes the user's one monitor and listens. False, with error(), when another monitor runs
    // or the endpoint cannot be had.
    bool claim();
    // Takes the units (now, or as soon as the unit lock is free) and serves qx77zt.
    void start();
    // Ends, a transfer under way finished first; stopped() follows. Repeated calls end once.
    void stop();

    State state() const { return state_; }
    const QString& error() const { return error_; }
    // The exit status the program leaves with: 0, or 1 when the HID library could not be had.
    int exitStatus() const { return exitStatus_; }
    // The room while the monitor drives the units; null otherwise.
    room::UnitRoom* room() const { return room_.get(); }

signals:
    void stateChanged(qx::monitor::Monitor::State state);
    void stopped();

private:
    bool listen();
    void accept();
    void received(QLocalSocket* peer);
    void release(QLocalSocket* peer);
    void finishRelease();
    void windowGone();
    void take();
    bool startUnits();
    // Ends every request (with `why` to its peer), the room and its links, and the unit lock.
    void dropUnits(const std::string& why);
    bool transferRunning() const;
    // Runs `then` once no transfer runs, looking every 50 ms.
    void whenIdle(std::function<void()> then);
    void finishStop();
    void setState(State state);
    void note(const std::string& text);
    void noteUnitChanged(int index);

    MonitorSetup setup_;
    State state_ = State::Idle;
    QString error_;
    int exitStatus_ = 0;
    bool everTaken_ = false;
    std::unique_ptr<QLockFile> instanceLock_;
    QString endpoint_;
    QLocalServer server_;
    std::unique_ptr<ConnectionLimits> limits_;
    // Connections handed to the command line's service, to be told when the units go.
    std::vector<QPointer<QLocalSocket>> commandPeers_;
    // The window program's connection while it has (or is being given) the units.
    QPointer<QLocalSocket> window_;
    state::UnitLabels labels_;
    state::UpdateJournal journal_;
    std::unique_ptr<cli::UnitLock> unitLock_;
    std::string lockNote_; // what was last said about a busy lock
    QTimer lockRetry_;
    QTimer relisten_;
    QTimer idleCheck_;
    std::function<void()> whenIdle_;
    class ErrorLog;
    std::unique_ptr<ErrorLog> errorLog_;
    // Declared in this order so that they go in reverse: the service's requests end before the
    // links, and the links before the answer boxes.
    std::deque<cli::AnswerBox> answers_;
    std::unique_ptr<room::UnitRoom> room_;
    std::unique_ptr<DeviceChangeSettler> deviceChanges_;
    std::unique_ptr<cli::WindowCliService> service_;
    std::vector<std::string> unitStates_;
};

} // namespace qx::monitor
