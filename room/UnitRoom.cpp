// SPDX-License-Identifier: GPL-3.0-or-later
#include "room/UnitRoom.h"

#include "panel/SettingsFile.h"

#include <QMetaObject>

#include <algorithm>

namespace qx::room {

UnitRoom::UnitRoom(Setup setup, QObject* parent) : QObject(parent), setup_(std::move(setup)) {
    deferredTimer_.setSingleShot(true);
    connect(&deferredTimer_, &QTimer::timeout, this, &UnitRoom::retryDeferred);
    connect(this, &UnitRoom::answerArrived, this, &UnitRoom::takeAnswer, Qt::QueuedConnection);
}

UnitRoom::~UnitRoom() {
    stopAll();
    shownUnit_ = nullptr;
    // Units go first: their threads report through this object.
    units_.clear();
}

bool UnitRoom::start() {
    // Started again (the window activated after a dialog of the program): every unit is looked
    // for afresh, as a device change would.
    if (scanner_.started()) {
        followDeviceChange();
        return true;
    }
    image_ = setup_.image ? setup_.image() : std::nullopt;
    if (!image_) {
        lastError_ = "the HID library image is missing";
        return false;
    }
    const bool ok = scanner_.start(
        *image_, setup_.libraryLoaded,
        [this] {
            if (!changeBegan_) {
                changeBegan_ = LinkState::Clock::now();
            }
            if (setup_.deviceEvent) {
                setup_.deviceEvent();
            } else {
                followDeviceChange();
            }
        },
        lastError_);
    if (!ok) {
        return false;
    }
    followDeviceChange();
    return true;
}

int UnitRoom::find(const UnitKey& key) const {
    for (std::size_t i = 0; i < units_.size(); ++i) {
        if (units_[i]->key() == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int UnitRoom::connectedCount() const {
    int n = 0;
    for (const auto& u : units_) {
        n += u->link().connected ? 1 : 0;
    }
    return n;
}

void UnitRoom::setShown(int index) {
    if (index < -1 || index >= count() || index == shown_.load()) {
        return;
    }
    shownUnit_ = index < 0 ? nullptr : units_[static_cast<std::size_t>(index)].get();
    shown_ = index;
    emit shownChanged(index);
}

int UnitRoom::addUnit(const UnitKey& key) {
    if (count() >= kMaxUnits) {
        emit unitRefused(QStringLiteral("More than %1 units are plugged in: unit %2 is left alone.")
                             .arg(kMaxUnits)
                             .arg(QString::fromStdString(keyText(key))));
        return -1;
    }
    auto unit = std::make_unique<RoomUnit>(key, several_);
    unit->errors_.target = setup_.errors;
    RoomUnit* u = unit.get();
    if (setup_.labels != nullptr) {
        if (const auto record = setup_.labels->find(key.serial, key.place)) {
            u->label_ = record->label;
        }
    }
    u->link_.setStatusPolling(true);
    const std::vector<uint8_t>* image = &*image_;
    u->usb_ = std::make_unique<UsbLink>(
        u->link_, *u, [image] { return std::optional<std::vector<uint8_t>>(*image); },
        [this, u] {
            // The shown unit's answer goes to the window without a detour, as with one unit.
            if (shownUnit_.load() == u && setup_.shownAnswered) {
                setup_.shownAnswered();
            }
            answered(u);
        },
        &u->answers_, &u->errors_);
    // Run on this thread whenever the link connects, so it sees the key as it is now.
    u->usb_->setUnitFilter(
        [u](const THIDdeviceInfo& info) { return matches(u->key_, foundDevice(info)); });
    // The scanner follows device changes for every unit.
    u->usb_->setWatchDeviceChanges(false);
    u->usb_->setLibraryLoaded(setup_.libraryLoaded);
    const int index = count();
    units_.push_back(std::move(unit));
    if (!u->usb_->bindLibrary()) {
        emit unitRefused(QStringLiteral("Unit %1 cannot be connected: %2")
                             .arg(QString::fromStdString(keyText(key)),
                                  QString::fromStdString(u->usb_->lastError())));
    }
    emit unitAdded(index);
    noteConnection(index);
    return index;
}

void UnitRoom::answered(RoomUnit* unit) {
    if (unit->answerQueued_.exchange(true)) {
        return;
    }
    // A queued signal: the hand-off is made inside Qt, whose locks are the ones that order it.
    emit answerArrived(unit, QPrivateSignal{});
}

void UnitRoom::takeAnswer(RoomUnit* unit) {
    unit->answerQueued_ = false;
    int index = -1;
    for (std::size_t i = 0; i < units_.size(); ++i) {
        if (units_[i].get() == unit) {
            index = static_cast<int>(i);
        }
    }
    if (index < 0) {
        return;
    }
    // The window's meters feed the memory of the unit they show.
    if ((index != shown_.load() || !setup_.shownFedByView) && unit->link_.settingsReported()) {
        const DeviceStatus st = unit->link_.status();
        const bool wasOver = unit->levels_.anyOver();
        unit->levels_.note(st.levelLeft, st.levelRight, LinkState::Clock::now(),
                           std::chrono::system_clock::now());
        if (!wasOver && unit->levels_.anyOver()) {
            emit unitChanged(index);
        }
    }
    emit unitAnswered(index);
}

bool UnitRoom::keepsItsDevice(const RoomUnit& unit, const std::vector<FoundDevice>& found,
                              const std::vector<UnitKey>& keys) const {
    if (!unit.link().connected || unit.link().bootMode || !changeBegan_) {
        return false;
    }
    bool present = false;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].usable && keys[i] == unit.key() && !found[i].bootMode &&
            found[i].product == unit.facts().product) {
            present = true;
        }
    }
    // A unit unplugged and plugged back within one burst may be listed as before while its
    // open handle has gone: only answers since the burst began prove the handle alive.
    const auto last = unit.link().lastAnswerAt();
    return present && last && *last > *changeBegan_;
}

int UnitRoom::claim(const UnitKey& key) {
    if (const int exact = find(key); exact >= 0) {
        return exact;
    }
    // A unit plugged in elsewhere, or alone again with its serial, is the unit it was.
    for (int i = 0; i < count(); ++i) {
        RoomUnit& u = unit(i);
        if (u.key_.serial == key.serial && !u.link_.connected && find(key) < 0) {
            u.key_ = key;
            return i;
        }
    }
    return -1;
}

void UnitRoom::followDeviceChange() {
    const std::vector<FoundDevice> found = scanner_.scan();
    const std::vector<UnitKey> keys = keysOf(found);
    // A second device with a unit's serial: the unit is known by its place from now on (that of
    // the first such device, the one its link took, since every copy lists in the same order).
    std::vector<bool> rekeyed(units_.size(), false);
    for (std::size_t i = 0; i < units_.size(); ++i) {
        RoomUnit& u = *units_[i];
        if (!u.key_.place.empty()) {
            continue;
        }
        for (std::size_t d = 0; d < found.size(); ++d) {
            if (found[d].usable && found[d].serial == u.key_.serial && !keys[d].place.empty()) {
                u.key_.place = keys[d].place;
                rekeyed[i] = true;
                break;
            }
        }
    }
    std::vector<int> added;
    for (std::size_t d = 0; d < found.size(); ++d) {
        // A device that only claims to be the unit gets a link too, which never opens it but
        // says why, unless it shares its serial with a unit that can be used.
        const bool listed = std::any_of(added.begin(), added.end(), [&](int a) {
            return keys[static_cast<std::size_t>(a)] == keys[d];
        });
        if (!listed && claim(keys[d]) < 0) {
            added.push_back(static_cast<int>(d));
        }
    }
    // Where each unit was found this time.
    for (std::size_t d = 0; d < found.size(); ++d) {
        if (const int known = find(keys[d]); known >= 0) {
            RoomUnit& u = unit(known);
            if (u.path_.empty() || found[d].usable) {
                u.path_ = found[d].path;
            }
        }
    }
    bool deferred = false;
    for (std::size_t i = 0; i < units_.size(); ++i) {
        RoomUnit& u = *units_[i];
        if (!rekeyed[i] && keepsItsDevice(u, found, keys)) {
            continue;
        }
        if (!u.usb_->followDeviceChange()) {
            deferred = true;
            continue;
        }
        noteConnection(static_cast<int>(i));
    }
    changeBegan_.reset();
    for (const int d : added) {
        if (const int index = addUnit(keys[static_cast<std::size_t>(d)]); index >= 0) {
            unit(index).path_ = found[static_cast<std::size_t>(d)].path;
        }
    }
    if (deferred) {
        deferredTimer_.start(deferredRetry);
    }
}

void UnitRoom::retryDeferred() {
    bool waiting = false;
    for (int i = 0; i < count(); ++i) {
        RoomUnit& u = unit(i);
        if (u.link_.transferRunning) {
            waiting = true;
            continue;
        }
        if (u.usb_->reconnectIfDeferred()) {
            noteConnection(i);
        }
    }
    if (waiting) {
        deferredTimer_.start(deferredRetry);
    }
}

void UnitRoom::reconnect(int index) {
    if (index < 0 || index >= count()) {
        return;
    }
    unit(index).usb_->connectUnit();
    noteConnection(index);
}

void UnitRoom::noteConnection(int index) {
    RoomUnit& u = unit(index);
    if (u.link_.connected && !u.everConnected_) {
        u.everConnected_ = true;
        ++everConnected_;
        several_ = everConnected_ > 1;
    }
    const bool running = u.link_.connected && !u.link_.bootMode;
    if (running && !u.runningBefore_) {
        applyProfile(index);
    }
    u.runningBefore_ = running;
    emit unitChanged(index);
    // The first unit is shown, and the first that connects takes the place of one that never
    // did (a device that cannot be opened or used, which the window explains while it is shown).
    const int shown = shown_.load();
    if (shown < 0 || (shown != index && !unit(shown).everConnected_ && u.link_.connected)) {
        setShown(index);
    }
}

void UnitRoom::stopAll() {
    for (const auto& u : units_) {
        u->usb_->stopWorker();
    }
}

void UnitRoom::clearOver(int index, int channel) {
    if (index < 0 || index >= count()) {
        return;
    }
    auto& channels = unit(index).levels_.channels;
    for (std::size_t ch = 0; ch < channels.size(); ++ch) {
        if (channel < 0 || static_cast<int>(ch) == channel) {
            channels[ch].latch.clear();
        }
    }
    emit unitChanged(index);
}

} // namespace qx::room

namespace qx::room {

state::UnitLabel UnitRoom::labelRecord(int index) const {
    const RoomUnit& u = unit(index);
    if (setup_.labels != nullptr) {
        if (auto record = setup_.labels->find(u.key_.serial, u.key_.place)) {
            return *record;
        }
    }
    state::UnitLabel record;
    record.serial = u.key_.serial;
    record.place = u.key_.place;
    record.label = u.label_;
    return record;
}

std::string UnitRoom::setLabel(int index, const std::string& label, const std::string& profile,
                               bool applyProfile) {
    RoomUnit& u = unit(index);
    state::UnitLabel record{u.key_.serial, u.key_.place, label, profile, applyProfile};
    if (setup_.labels == nullptr) {
        return "no state folder to keep labels in";
    }
    const state::LabelChange change = setup_.labels->set(record);
    if (change.status == state::LabelChange::Status::Refused) {
        return change.error;
    }
    u.label_ = label;
    emit unitChanged(index);
    return change.status == state::LabelChange::Status::NotWritten ? change.error : std::string{};
}

void UnitRoom::applyProfile(int index) {
    RoomUnit& u = unit(index);
    if (setup_.labels == nullptr) {
        return;
    }
    const auto record = setup_.labels->find(u.key_.serial, u.key_.place);
    if (!record || !record->applyProfile || record->profile.empty()) {
        return;
    }
    const panel::FileBytes file = panel::readSettingsFile(record->profile);
    if (!file.ok) {
        emit profileApplied(index, QString::fromStdString(record->profile + ": " + file.error));
        return;
    }
    const panel::ParsedSettings parsed = panel::parseSettingsFile(file.bytes);
    if (!parsed.settings) {
        emit profileApplied(index, QString::fromStdString(record->profile + ": " + parsed.problem));
        return;
    }
    const DeviceSettings settings = *parsed.settings;
    // Posted like the operator's own change: resent until the unit confirms it.
    u.link_.save([&settings](DeviceSettings& s) { s = settings; }, ChangeOrigin::Profile);
    emit profileApplied(index, {});
}

} // namespace qx::room
