// SPDX-License-Identifier: GPL-3.0-or-later
// One unit of the room: its own link (records, mailbox, worker, library copy), what the link last
// said of the connection, its label and its meters' memory.
#pragma once

#include "levels/LevelMemory.h"
#include "link/USB.h"
#include "room/UnitKeys.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qx::room {

// What the link last told its view, kept so that a view attached later is brought up to date.
struct ConnectionFacts {
    bool controlsEnabled = false;
    bool updateButtonsEnabled = false;
    std::string product;
    std::string serial;
    std::string version;
    std::string inaccessiblePath;
    struct Refusal {
        uint16_t outputLength = 0;
        uint16_t inputLength = 0;
    };
    std::optional<Refusal> refused;
};

// The state of a unit in one word, for lists.
enum class UnitState {
    Unplugged,
    Connected,
    NotAnswering,
    BootLoader,
    Updating,
    NoAccess,
    Refused
};
const char* stateWord(UnitState state);

// Hands each answer to whichever sinks are attached now; either may change while answers come.
class AnswerRelay : public AnswerSink {
public:
    std::atomic<AnswerSink*> window{nullptr};
    std::atomic<AnswerSink*> command{nullptr};
    void finishAnswer(bool success) override;
    void resetAnswer() override;
};

// Hands a unit's send failures on, named by the unit's serial once there are several units.
class ErrorRelay : public ErrorSink {
public:
    ErrorRelay(std::string serial, const std::atomic<bool>& several)
        : serial_(std::move(serial)), several_(several) {}
    ErrorSink* target = nullptr; // set before the link starts
    void showError(const std::string& text) override;

private:
    const std::string serial_;
    const std::atomic<bool>& several_;
};

class RoomUnit : public ConnectionView {
public:
    RoomUnit(UnitKey key, const std::atomic<bool>& several)
        : key_(std::move(key)), errors_(key_.serial, several) {}
    ~RoomUnit() override;
    RoomUnit(const RoomUnit&) = delete;
    RoomUnit& operator=(const RoomUnit&) = delete;

    const UnitKey& key() const { return key_; }
    // The library's path of its device when last found; empty before.
    const std::string& path() const { return path_; }
    LinkState& link() { return link_; }
    const LinkState& link() const { return link_; }
    UsbLink* usb() const { return usb_.get(); }
    AnswerRelay& answers() { return answers_; }

    // User interface thread only, from here on.
    const ConnectionFacts& facts() const { return facts_; }
    UnitState state() const;
    // The operator's name for the unit; empty when none was given.
    const std::string& label() const { return label_; }
    void setLabel(std::string label) { label_ = std::move(label); }
    // The label, or the key's text where there is none.
    std::string name() const;
    // The meters' memory: fed by the room while the unit is not shown, by the window's meters
    // (which show it) while it is.
    levels::LevelMemory& levels() { return levels_; }
    const levels::LevelMemory& levels() const { return levels_; }
    // The view that hears what the link says, besides this unit's own record; replays the record
    // to it at once.
    void attachView(ConnectionView* view);
    // When the unit was first connected in this run; nullopt before.
    bool everConnected() const { return everConnected_; }

    // ConnectionView
    void setControlsEnabled(bool enabled) override;
    void setDeviceFields(const std::string& name, const std::string& serial,
                         const std::string& version) override;
    void setUpdateButtonsEnabled(bool enabled) override;
    void setUnitInaccessible(const std::string& path) override;
    void setUnitRefused(uint16_t outputLength, uint16_t inputLength) override;

private:
    friend class UnitRoom;

    UnitKey key_;
    std::string path_;
    LinkState link_;
    AnswerRelay answers_;
    ErrorRelay errors_;
    // Declared after what its threads use, so that it stops first.
    std::unique_ptr<UsbLink> usb_;
    ConnectionFacts facts_;
    ConnectionView* view_ = nullptr;
    std::string label_;
    levels::LevelMemory levels_;
    bool everConnected_ = false;
    // Connected in normal mode when last looked at: a profile is written on the change to it.
    bool runningBefore_ = false;
    // An answer's hand-off to the user interface thread is on its way.
    std::atomic<bool> answerQueued_{false};
};

} // namespace qx::room
