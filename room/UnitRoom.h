// SPDX-License-Identifier: GPL-3.0-or-later
// Every unit on the computer, each driven on its own link, and what changed about them. The
// windows, the command line's service and any other view read the units here and are told of
// changes by its signals; nothing here knows of a window.
//
// User interface (main) thread only, but for the link's own threads, which reach the room only
// through the per-unit redraw hand-off.
#pragma once

#include "link/USB.h"
#include "room/DeviceScanner.h"
#include "room/RoomUnit.h"
#include "state/UnitLabels.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qx::room {

// A scanner copy takes one of the library's handler slots; the units share the rest.
inline constexpr int kMaxUnits = kHandlerSlots - 1;

class UnitRoom : public QObject {
    Q_OBJECT
public:
    struct Setup {
        // The HID library image every copy is loaded from.
        UsbLink::ImageSource image;
        // Runs with each copy once it is loaded, the scanner's first.
        std::function<void(LoadedLibrary&)> libraryLoaded;
        // Send failures the operator must see, from any unit.
        ErrorSink* errors = nullptr;
        // Called on the library's reader thread for every answer of the shown unit; must hand
        // on without waiting (the window's queued refresh).
        std::function<void()> shownAnswered;
        // Raw device events, on the user interface thread; the owner collapses a burst of them
        // and then calls followDeviceChange(). Empty: each is followed at once.
        std::function<void()> deviceEvent;
        // The operator's labels and profiles; may be null (no unit is labelled then).
        state::UnitLabels* labels = nullptr;
        // The window's meters feed the memory of the unit they show; a program without them (the
        // monitor) leaves every unit's memory to the room.
        bool shownFedByView = true;
    };

    explicit UnitRoom(Setup setup, QObject* parent = nullptr);
    ~UnitRoom() override;

    // Loads the scanner's copy and connects every unit found; once started, looks for every unit
    // afresh. False, with lastError(), when the library cannot be had.
    bool start();
    bool started() const { return scanner_.started(); }
    const std::string& lastError() const { return lastError_; }
    // The scanner's copy (the demo's virtual bench lives in it).
    LoadedLibrary* scannerLibrary() const { return scanner_.library(); }

    int count() const { return static_cast<int>(units_.size()); }
    RoomUnit& unit(int index) { return *units_.at(static_cast<std::size_t>(index)); }
    const RoomUnit& unit(int index) const { return *units_.at(static_cast<std::size_t>(index)); }
    // The unit known by `key`, or -1.
    int find(const UnitKey& key) const;
    // How many units are connected now.
    int connectedCount() const;
    // Whether more than one unit is or was connected in this run.
    bool several() const { return several_.load(); }

    // The unit the window shows and drives; -1 before the first is found.
    int shown() const { return shown_.load(); }
    void setShown(int index);

    // Follows a device change: a new unit gets a link of its own, a unit whose device went or
    // came reconnects, and a unit that kept its device and answers on is left alone. A unit
    // under a firmware transfer follows once the transfer has ended.
    void followDeviceChange();
    // Rescans and reconnects one unit (after its update window closed).
    void reconnect(int index);
    // Asks every worker to stop after its current pass (the program is closing).
    void stopAll();
    // Acknowledges the over latch of one channel of a unit (both for -1).
    void clearOver(int index, int channel);
    // Gives a unit its label and profile (the settings file written to it whenever it connects
    // in normal mode, when `applyProfile`); kept with the labels. Returns why it was not kept,
    // empty when it was.
    std::string setLabel(int index, const std::string& label, const std::string& profile,
                         bool applyProfile);
    // The label record of a unit; an empty one when it has none.
    state::UnitLabel labelRecord(int index) const;

    // How often a unit whose device change waits for its transfer's end looks again.
    std::chrono::milliseconds deferredRetry{500};

signals:
    void unitAdded(int index);
    // The unit's connection, label or latches changed.
    void unitChanged(int index);
    // An answer of the unit was stored; several while one is on its way count once.
    void unitAnswered(int index);
    void shownChanged(int index);
    // A unit could not be given a link (no slot or copy left); `text` says why.
    void unitRefused(const QString& text);
    // A unit's profile was written to it on connection (`error` empty), or could not be read.
    void profileApplied(int index, const QString& error);
    // From a link's reader thread: an answer of `unit` was stored.
    void answerArrived(qx::room::RoomUnit* unit, QPrivateSignal);

private:
    int addUnit(const UnitKey& key);
    // The unit a device of `key` belongs to, re-keying a unit that moved; -1 for a new one.
    int claim(const UnitKey& key);
    void answered(RoomUnit* unit);
    void takeAnswer(RoomUnit* unit);
    // A unit whose device is still there unchanged and that answered since the change began.
    bool keepsItsDevice(const RoomUnit& unit, const std::vector<FoundDevice>& found,
                        const std::vector<UnitKey>& keys) const;
    void noteConnection(int index);
    void applyProfile(int index);
    void retryDeferred();

    Setup setup_;
    std::optional<std::vector<uint8_t>> image_;
    DeviceScanner scanner_;
    std::string lastError_;
    std::vector<std::unique_ptr<RoomUnit>> units_;
    std::atomic<int> shown_{-1};
    // The shown unit, for the link's threads, which must not look into units_.
    std::atomic<RoomUnit*> shownUnit_{nullptr};
    int everConnected_ = 0;
    // everConnected_ > 1, for the links' threads.
    std::atomic<bool> several_{false};
    // When the first device event since the last change followed arrived.
    std::optional<LinkState::Clock::time_point> changeBegan_;
    QTimer deferredTimer_;
};

} // namespace qx::room
