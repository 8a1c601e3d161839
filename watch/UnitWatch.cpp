// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/UnitWatch.h"

#include "levels/LevelScale.h"
#include "room/UnitKeys.h"
#include "room/UnitRoom.h"
#include "watch/WatchState.h"

#include <algorithm>

namespace qx::watch {

namespace {

using namespace std::chrono;

// Readings further apart than this leave a gap the summary does not count.
constexpr Millis kReadingGap{2000};
constexpr std::array<const char*, 2> kChannelWords = {"left", "right"};

std::string word(uint8_t value, std::initializer_list<const char*> words) {
    if (value < words.size()) {
        return *(words.begin() + value);
    }
    return std::to_string(value);
}

int64_t minuteOf(WallClock::time_point t) {
    return floor<minutes>(t.time_since_epoch()).count();
}

// dB of a reading; above the table is the over, the top of the scale.
double readingDb(int level) {
    return levels::levelDb(level).value_or(kHighestLevelDb);
}

} // namespace

UnitCondition conditionOf(room::UnitState state, bool everConnected) {
    switch (state) {
    case room::UnitState::Connected:
        return UnitCondition::Answering;
    case room::UnitState::BootLoader:
        return UnitCondition::BootLoader;
    case room::UnitState::Unplugged:
    case room::UnitState::NotAnswering:
    case room::UnitState::NoAccess:
    case room::UnitState::Refused:
        return everConnected ? UnitCondition::Lost : UnitCondition::Other;
    case room::UnitState::Updating:
        return UnitCondition::Other;
    }
    return UnitCondition::Other;
}

std::vector<SettingChange> settingChanges(const DeviceSettings& a, const DeviceSettings& b) {
    std::vector<SettingChange> out;
    const auto note = [&out](std::string name, std::string before, std::string after) {
        if (before != after) {
            out.push_back({std::move(name), std::move(before), std::move(after)});
        }
    };
    const auto onOff = [](uint8_t v) { return std::string(v ? "on" : "off"); };
    const auto gain = [](int8_t v) { return std::to_string(v) + " dB"; };
    note("preset", std::to_string(a.preset + 1), std::to_string(b.preset + 1));
    for (int preset = 0; preset < 4; ++preset) {
        for (int side = 0; side < 2; ++side) {
            const auto slot = static_cast<std::size_t>(sourceSlot(preset, side));
            const auto source = [](uint8_t v) {
                const std::string name = sourceName(v);
                return name.empty() ? std::to_string(v) : name;
            };
            note("source-" + std::to_string(preset + 1) + "-" + kChannelWords[side],
                 source(rawBytes(a)[slot]), source(rawBytes(b)[slot]));
        }
    }
    note("mute", onOff(a.muteOn), onOff(b.muteOn));
    note("dim", word(a.dimMode, {"off", "-20 dB", "+20 dB"}),
         word(b.dimMode, {"off", "-20 dB", "+20 dB"}));
    note("monitor", word(a.monitorMode, {"normal", "SUM", "DIF"}),
         word(b.monitorMode, {"normal", "SUM", "DIF"}));
    note("gain-left", gain(a.gainLeft), gain(b.gainLeft));
    note("gain-right", gain(a.gainRight), gain(b.gainRight));
    note("ballistics", a.ballistics ? "PPM" : "VU", b.ballistics ? "PPM" : "VU");
    note("peak-hold", word(a.peakHold, {"OFF", "Peak", "TruePeak"}),
         word(b.peakHold, {"OFF", "Peak", "TruePeak"}));
    note("brightness", word(a.brightness, {"10%", "30%", "50%", "100%"}),
         word(b.brightness, {"10%", "30%", "50%", "100%"}));
    note("level-scale", a.levelScale ? "dBFS" : "dB", b.levelScale ? "dBFS" : "dB");
    return out;
}

UnitWatch::UnitWatch(room::UnitRoom& room, EventSink& sink, Setup setup, QObject* parent)
    : QObject(parent), room_(room), sink_(sink), setup_(std::move(setup)) {
    if (!setup_.stateFile.empty()) {
        WatchStateLoad load = loadWatchState(setup_.stateFile);
        if (!load.problem.empty() && setup_.problem) {
            setup_.problem(load.problem);
        }
        for (const RaisedAlarm& a : load.alarms) {
            engine_.setRaised(a.unit, a.kind);
            since_[{a.unit, a.kind}] = a.since;
        }
    }
    for (int i = 0; i < room_.count(); ++i) {
        added(i);
    }
    connect(&room_, &room::UnitRoom::unitAdded, this, &UnitWatch::added);
    connect(&room_, &room::UnitRoom::unitChanged, this, &UnitWatch::look);
    connect(&room_, &room::UnitRoom::unitAnswered, this, &UnitWatch::answered);
    connect(&timer_, &QTimer::timeout, this, &UnitWatch::tick);
    if (setup_.timer) {
        timer_.start(1000);
    }
}

UnitWatch::~UnitWatch() = default;

void UnitWatch::setSettings(const AlarmSettings& settings) {
    setup_.settings = settings;
}

std::string UnitWatch::keyOf(int index) const {
    return room::keyText(room_.unit(index).key());
}

std::vector<ActiveAlarm> UnitWatch::activeAlarms() const {
    std::vector<ActiveAlarm> out;
    for (const auto& [key, kind] : engine_.raisedAlarms()) {
        ActiveAlarm a;
        a.key = key;
        a.name = key;
        a.kind = kind;
        if (const auto it = since_.find({key, kind}); it != since_.end()) {
            a.since = it->second;
        }
        for (int i = 0; i < room_.count(); ++i) {
            if (keyOf(i) == key) {
                a.unit = i;
                a.name = room_.unit(i).name();
            }
        }
        out.push_back(std::move(a));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const ActiveAlarm& x, const ActiveAlarm& y) { return x.since < y.since; });
    return out;
}

bool UnitWatch::hasAlarm(int unit) const {
    if (unit < 0 || unit >= room_.count()) {
        return false;
    }
    const std::string key = keyOf(unit);
    return std::any_of(kAllAlarms.begin(), kAllAlarms.end(),
                       [&](AlarmKind k) { return engine_.raised(key, k); });
}

void UnitWatch::added(int index) {
    if (index >= static_cast<int>(seen_.size())) {
        seen_.resize(static_cast<std::size_t>(index) + 1);
    }
    look(index);
}

Event UnitWatch::unitEvent(int index, std::string_view kind) const {
    const room::RoomUnit& u = room_.unit(index);
    Event e;
    e.time = setup_.clock.wall();
    e.kind = std::string(kind);
    e.serial = u.key().serial;
    e.unit = u.name();
    return e;
}

void UnitWatch::look(int index) {
    if (index < 0 || index >= room_.count()) {
        return;
    }
    if (index >= static_cast<int>(seen_.size())) {
        seen_.resize(static_cast<std::size_t>(index) + 1);
    }
    room::RoomUnit& u = room_.unit(index);
    Seen& seen = seen_[static_cast<std::size_t>(index)];
    const LinkState& link = u.link();

    using Mode = Seen::Mode;
    const Mode mode = !link.connected ? Mode::None : link.bootMode ? Mode::Boot : Mode::Normal;
    if (mode != seen.mode) {
        if (mode == Mode::Normal) {
            Event e = unitEvent(index, kind::kConnected);
            e.texts = {{"product", u.facts().product}, {"version", u.facts().version}};
            sink_.record(e);
        } else if (mode == Mode::Boot) {
            sink_.record(unitEvent(index, kind::kBootLoader));
        } else if (seen.mode != Mode::None) {
            sink_.record(unitEvent(index, kind::kDisconnected));
        }
        seen.mode = mode;
        // The record a unit reports after it comes back is compared with nothing: whatever
        // changed while it was away has no known origin.
        if (mode != Mode::Normal) {
            seen.settings.reset();
        }
    }

    const bool transfer = link.transferRunning;
    if (transfer != seen.transfer) {
        Event e = unitEvent(index, transfer ? kind::kUpdateStarted : kind::kUpdateEnded);
        if (!transfer) {
            e.texts = {{"result", link.updateFinished ? "finished" : "stopped"}};
        }
        sink_.record(e);
        seen.transfer = transfer;
    }

    for (std::size_t ch = 0; ch < 2; ++ch) {
        const bool latched = u.levels().channels[ch].latch.latched();
        if (latched != seen.latched[ch]) {
            Event e = unitEvent(index, latched ? kind::kOver : kind::kOverAcknowledged);
            e.texts = {{"channel", kChannelWords[ch]}};
            sink_.record(e);
            seen.latched[ch] = latched;
        }
    }
    judge(index);
}

void UnitWatch::answered(int index) {
    if (index < 0 || index >= room_.count()) {
        return;
    }
    look(index);
    noteSettings(index);
    noteReading(index);
}

void UnitWatch::noteSettings(int index) {
    const LinkState& link = room_.unit(index).link();
    Seen& seen = seen_[static_cast<std::size_t>(index)];
    const LinkState::SaveNote save = link.lastSave();
    if (!link.settingsReported() || seen.mode != Seen::Mode::Normal) {
        seen.saves = save.count;
        return;
    }
    const DeviceSettings now = link.settings();
    if (seen.settings && *seen.settings != now) {
        const std::string from = save.count > seen.saves ? originWord(save.origin) : "unit";
        for (const SettingChange& c : settingChanges(*seen.settings, now)) {
            Event e = unitEvent(index, kind::kSetting);
            e.texts = {{"setting", c.setting}, {"old", c.before}, {"new", c.after}, {"from", from}};
            sink_.record(e);
        }
    }
    seen.settings = now;
    seen.saves = save.count;
}

void UnitWatch::noteReading(int index) {
    room::RoomUnit& u = room_.unit(index);
    const LinkState& link = u.link();
    if (!link.settingsReported() || link.bootMode || !link.connected) {
        return;
    }
    // One reading per stored answer: several answers handed on at once count as the newest.
    Seen& seen = seen_[static_cast<std::size_t>(index)];
    const uint64_t answers = link.answersStored();
    if (answers == seen.answers) {
        return;
    }
    seen.answers = answers;
    const DeviceStatus st = link.status();
    const MonoClock::time_point mono = setup_.clock.mono();
    rollSummary(index, minuteOf(setup_.clock.wall()));
    Summary& s = seen.summary;
    const std::array<double, 2> db = {readingDb(st.levelLeft), readingDb(st.levelRight)};
    for (std::size_t ch = 0; ch < 2; ++ch) {
        s.highestDb[ch] = std::max(s.highestDb[ch].value_or(db[ch]), db[ch]);
    }
    if (st.levelLeft == levels::kOverLevel || st.levelRight == levels::kOverLevel) {
        ++s.overs;
    }
    if (s.lastReading) {
        const auto gap = duration_cast<Millis>(mono - *s.lastReading);
        if (gap > Millis(0) && gap <= kReadingGap) {
            s.covered += gap;
            if (s.lastSilent) {
                s.silence += gap;
            }
        }
    }
    const AlarmRules rules = setup_.settings.rulesFor(u.key().serial, u.label());
    const bool silenceOn = rules[AlarmKind::Silence].on;
    s.lastSilent = silentLevels(db[0], db[1], silenceOn ? rules.silenceLevelDb : kSummarySilenceDb,
                                silenceOn ? rules.silenceChannels : SilenceChannels::Both)
                       .value_or(false);
    s.lastReading = mono;
    s.any = true;
}

void UnitWatch::rollSummary(int index, int64_t minute) {
    Summary& s = seen_[static_cast<std::size_t>(index)].summary;
    if (s.minute && *s.minute == minute) {
        return;
    }
    if (s.any) {
        emitSummary(index, s);
    }
    // The reading before the turn of the minute still counts its gap into the new one.
    const auto lastReading = s.lastReading;
    const bool lastSilent = s.lastSilent;
    s = Summary{};
    s.minute = minute;
    s.lastReading = lastReading;
    s.lastSilent = lastSilent;
}

void UnitWatch::emitSummary(int index, const Summary& s) {
    Event e = unitEvent(index, kind::kSummary);
    e.time = WallClock::time_point(minutes(s.minute.value_or(0)));
    for (std::size_t ch = 0; ch < 2; ++ch) {
        if (s.highestDb[ch]) {
            e.numbers.emplace_back(std::string(kChannelWords[ch]) + "-db", *s.highestDb[ch]);
        }
    }
    e.numbers.emplace_back("overs", s.overs);
    e.numbers.emplace_back("silence-s", duration_cast<duration<double>>(s.silence).count());
    e.numbers.emplace_back("seconds", duration_cast<duration<double>>(s.covered).count());
    sink_.record(e);
}

void UnitWatch::judge(int index) {
    room::RoomUnit& u = room_.unit(index);
    const LinkState& link = u.link();
    UnitSample sample;
    sample.time = setup_.clock.mono();
    sample.condition = conditionOf(u.state(), u.everConnected());
    sample.updating = link.transferRunning || link.updateInProgress;
    sample.overLatched = u.levels().anyOver();
    if (sample.condition == UnitCondition::Answering && link.settingsReported()) {
        const DeviceStatus st = link.status();
        sample.leftDb = readingDb(st.levelLeft);
        sample.rightDb = readingDb(st.levelRight);
    }
    const AlarmRules rules = setup_.settings.rulesFor(u.key().serial, u.label());
    const std::vector<AlarmTransition> changes = engine_.feed(keyOf(index), rules, sample);
    for (const AlarmTransition& t : changes) {
        act(index, t, rules);
    }
    if (!changes.empty()) {
        saveState();
        emit alarmsChanged();
    }
}

void UnitWatch::act(int index, const AlarmTransition& t, const AlarmRules& rules) {
    room::RoomUnit& u = room_.unit(index);
    const WallClock::time_point wall = setup_.clock.wall();
    const std::string key = keyOf(index);
    if (t.raised) {
        since_[{key, t.kind}] = wall - duration_cast<WallClock::duration>(t.at - t.since);
    } else {
        since_.erase({key, t.kind});
    }
    AlarmFacts facts;
    facts.kind = t.kind;
    facts.raised = t.raised;
    facts.unit = u.name();
    facts.serial = u.key().serial;
    facts.time = wall;
    facts.heldFor = duration_cast<Millis>(t.at - t.since);
    facts.silenceLevelDb = rules.silenceLevelDb;
    facts.silenceChannels = rules.silenceChannels;
    for (int ch = 0; ch < 2; ++ch) {
        if (u.levels().channels[static_cast<std::size_t>(ch)].latch.latched()) {
            facts.overChannels.push_back(ch);
        }
    }

    Event e = unitEvent(index, t.raised ? kind::kAlarmRaised : kind::kAlarmCleared);
    e.texts = {{"alarm", std::string(alarmWord(t.kind))}};
    if (t.kind == AlarmKind::Silence) {
        e.texts.emplace_back("channels",
                             rules.silenceChannels == SilenceChannels::Both ? "both" : "either");
        e.numbers.emplace_back("level", rules.silenceLevelDb);
    }
    if (t.raised) {
        // To the millisecond, as the log keeps times.
        e.numbers.emplace_back(
            "after-s",
            static_cast<double>(duration_cast<milliseconds>(t.at - t.since).count()) / 1000.0);
    }
    sink_.record(e);

    const AlarmActions& actions = setup_.settings.actions;
    if (actions.notify && setup_.notifier != nullptr) {
        setup_.notifier->notify(facts);
    }
    if (!actions.command.empty() && setup_.command != nullptr) {
        setup_.command->run(actions.command, actions.commandLimit, facts);
    }
}

void UnitWatch::actionFailed(const AlarmFacts& facts, const std::string& why) {
    Event e;
    e.time = setup_.clock.wall();
    e.kind = std::string(kind::kProgram);
    e.serial = facts.serial;
    e.unit = facts.unit;
    e.texts = {{"action", "command"},
               {"alarm", std::string(alarmWord(facts.kind))},
               {"state", std::string(stateWord(facts))},
               {"problem", why}};
    sink_.record(e);
}

void UnitWatch::noticesFailed(const std::string& why) {
    Event e;
    e.time = setup_.clock.wall();
    e.kind = std::string(kind::kProgram);
    e.texts = {{"action", "notify"}, {"problem", why}};
    sink_.record(e);
}

void UnitWatch::saveState() {
    if (setup_.stateFile.empty()) {
        return;
    }
    std::vector<RaisedAlarm> raised;
    for (const auto& [key, kind] : engine_.raisedAlarms()) {
        const auto it = since_.find({key, kind});
        raised.push_back({key, kind, it != since_.end() ? it->second : setup_.clock.wall()});
    }
    const std::string error = saveWatchState(setup_.stateFile, raised);
    if (!error.empty() && setup_.problem) {
        setup_.problem(error);
    }
}

void UnitWatch::tick() {
    const int64_t minute = minuteOf(setup_.clock.wall());
    for (int i = 0; i < room_.count(); ++i) {
        look(i);
        rollSummary(i, minute);
    }
}

void UnitWatch::flush() {
    for (int i = 0; i < room_.count() && i < static_cast<int>(seen_.size()); ++i) {
        Summary& s = seen_[static_cast<std::size_t>(i)].summary;
        if (s.any) {
            emitSummary(i, s);
        }
        const auto minute = s.minute;
        const auto lastReading = s.lastReading;
        const bool lastSilent = s.lastSilent;
        s = Summary{};
        s.minute = minute;
        s.lastReading = lastReading;
        s.lastSilent = lastSilent;
    }
}

} // namespace qx::watch
