// SPDX-License-Identifier: GPL-3.0-or-later
// The watch over every unit of the room: it follows what the room says of each unit, judges the
// alarms, acts on them (a desktop notice, the operator's command) and hands what happened to an
// event sink: alarms, connections, the boot loader, updates, settings changes and who made them,
// latched overs and their acknowledgement, and one summary per unit and minute.
//
// User interface thread only, as the room is. The alarms raised survive a restart or the units'
// hand-over to another program: they are kept in a small state file, and one raised before is
// cleared when its condition is gone, not raised a second time.
#pragma once

#include "link/DeviceRecords.h"
#include "room/RoomUnit.h"
#include "watch/AlarmActions.h"
#include "watch/AlarmEngine.h"
#include "watch/AlarmSettings.h"
#include "watch/Event.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qx::room {
class UnitRoom;
}

namespace qx::watch {

using WallClock = std::chrono::system_clock;

// The alarm terms of a unit's state; a unit that was never connected in this run cannot be lost.
UnitCondition conditionOf(room::UnitState state, bool everConnected);

// The changed fields of a unit's settings record: its name, the old and the new value.
struct SettingChange {
    std::string setting;
    std::string before;
    std::string after;
};
std::vector<SettingChange> settingChanges(const DeviceSettings& before,
                                          const DeviceSettings& after);

struct ActiveAlarm {
    // The unit's index in the room; -1 for a unit raised before a restart and not seen since.
    int unit = -1;
    // Its name (label, else key text), and the key text the alarm is kept by.
    std::string name;
    std::string key;
    AlarmKind kind = AlarmKind::Silence;
    WallClock::time_point since;
};

class UnitWatch : public QObject {
    Q_OBJECT
public:
    struct Clock {
        std::function<MonoClock::time_point()> mono = [] { return MonoClock::now(); };
        std::function<WallClock::time_point()> wall = [] { return WallClock::now(); };
    };
    struct Setup {
        AlarmSettings settings;
        // Either may be null: that action is not taken.
        AlarmNotifier* notifier = nullptr;
        AlarmCommand* command = nullptr;
        // The file the raised alarms are kept in (the state folder's "watch-state"); empty: none.
        std::filesystem::path stateFile;
        Clock clock;
        // Looks at every unit once a second; a test calls tick() itself instead.
        bool timer = true;
        // What goes wrong with the state file, for the operator.
        std::function<void(const std::string&)> problem;
    };

    UnitWatch(room::UnitRoom& room, EventSink& sink, Setup setup, QObject* parent = nullptr);
    ~UnitWatch() override;

    // New settings (the config file was read again, or the dialog saved); an alarm whose rule is
    // now off clears at the next look.
    void setSettings(const AlarmSettings& settings);
    const AlarmSettings& settings() const { return setup_.settings; }

    // Every alarm raised now, oldest first.
    std::vector<ActiveAlarm> activeAlarms() const;
    // Whether `unit` (a room index) has an alarm raised.
    bool hasAlarm(int unit) const;

    // What went wrong with an action, for the log (an entry of the program's own kind, naming
    // the unit): the command's failure (CommandAction's callback), or why notices cannot be
    // shown (DesktopNotifier's, with no facts).
    void actionFailed(const AlarmFacts& facts, const std::string& why);
    void noticesFailed(const std::string& why);

    // One look at every unit now: what the timer does.
    void tick();
    // Hands on the summaries of the minute under way now, with the seconds they cover (before
    // the units are handed over, or the program ends).
    void flush();

signals:
    // An alarm was raised or cleared.
    void alarmsChanged();

private:
    struct Summary {
        std::optional<int64_t> minute; // minutes since the epoch
        std::array<std::optional<double>, 2> highestDb;
        int overs = 0;
        Millis silence{0};
        Millis covered{0};
        std::optional<MonoClock::time_point> lastReading;
        bool lastSilent = false;
        bool any = false;
    };
    struct Seen {
        enum class Mode { None, Normal, Boot } mode = Mode::None;
        bool transfer = false;
        std::array<bool, 2> latched{};
        std::optional<DeviceSettings> settings;
        uint64_t saves = 0;
        uint64_t answers = 0;
        Summary summary;
    };

    void added(int index);
    void answered(int index);
    // Notes the unit's connection, transfer and latches, and feeds its alarms.
    void look(int index);
    void noteReading(int index);
    void noteSettings(int index);
    void judge(int index);
    void act(int index, const AlarmTransition& t, const AlarmRules& rules);
    void rollSummary(int index, int64_t minute);
    void emitSummary(int index, const Summary& s);
    Event unitEvent(int index, std::string_view kind) const;
    void saveState();
    std::string keyOf(int index) const;

    room::UnitRoom& room_;
    EventSink& sink_;
    Setup setup_;
    AlarmEngine engine_;
    std::vector<Seen> seen_;
    std::map<std::pair<std::string, AlarmKind>, WallClock::time_point> since_;
    QTimer timer_;
};

} // namespace qx::watch
