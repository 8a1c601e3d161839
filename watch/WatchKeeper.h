// SPDX-License-Identifier: GPL-3.0-or-later
// Everything the program needs to keep watch, for whichever program drives the units (the window
// program or the monitor): the alarm settings read from alarms.conf and read again when the file
// changes, the event log, the desktop notices, the operator's command, and the watch over the
// room the program drives now. The log and the actions last for the whole run; the watch comes
// and goes with the room (the monitor hands its units to the window program and takes them
// back with a new room).
//
// User interface (main) thread only.
#pragma once

#include "eventlog/EventLog.h"
#include "watch/AlarmSettings.h"
#include "watch/CommandAction.h"
#include "watch/DesktopNotifier.h"
#include "watch/UnitWatch.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qx::room {
class UnitRoom;
}

namespace qx::watch {

class WatchKeeper : public QObject {
    Q_OBJECT
public:
    struct Setup {
        // The program's state folder: the log goes in its "events" folder, the raised alarms in
        // its watch-state file. Empty: nothing is kept.
        std::filesystem::path stateFolder;
        // alarms.conf; empty: every alarm off.
        std::filesystem::path configFile;
        // Who keeps watch, for the log's program entries: "window" or "monitor".
        std::string program;
        // How often the config file is looked at for changes.
        std::chrono::milliseconds configCheck{2000};
    };

    explicit WatchKeeper(Setup setup, QObject* parent = nullptr);
    // Hands on the summaries of the minute under way, notes the end and waits for the log.
    ~WatchKeeper() override;

    // Watches `room` from now on (null: no room; the summaries of the one before handed on).
    void watchRoom(room::UnitRoom* room);
    UnitWatch* watch() const { return watch_.get(); }
    const AlarmSettings& settings() const { return settings_; }

    // Reads alarms.conf again now (the dialog has written it).
    void reloadConfig();
    // An entry of the program's own: "started", "stopped", "handed the units over", ...
    void programEvent(const std::string& what);
    // Hands on the summaries of the minute under way and waits until the log is on the disk.
    void flush();

    const std::filesystem::path& configFile() const { return setup_.configFile; }
    // The log's folder; empty when there is no state folder.
    std::filesystem::path logFolder() const;

signals:
    // An alarm was raised or cleared.
    void alarmsChanged();
    // Something the operator should know: the config file was refused, the log cannot be
    // written. Also written to the standard error.
    void problem(const QString& text);

private:
    void checkConfig();
    void applySettings(const AlarmSettings& settings);
    void tell(const std::string& text);
    // The log's troubles arrive on its own thread.
    void queueProblem(const std::string& text);
    Q_INVOKABLE void takeProblems();

    Setup setup_;
    AlarmSettings settings_;
    // What the config file looked like when last read: size and time of its last change.
    std::optional<std::pair<std::uintmax_t, std::filesystem::file_time_type>> configSeen_;
    bool configMissingSeen_ = false;
    std::unique_ptr<eventlog::EventLog> log_;
    // Entries go nowhere without a state folder.
    class NoSink : public EventSink {
    public:
        void record(const Event&) override {}
    } noSink_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<CommandAction> command_;
    std::unique_ptr<UnitWatch> watch_;
    QTimer configTimer_;
    std::mutex problemsMutex_;
    std::vector<std::string> problems_; // guarded by problemsMutex_
};

} // namespace qx::watch
