// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the unit's firmware: takes the host's output reports, answers with input reports
// the way the real unit does, and can misbehave on request. Pure logic with its own lock: time is
// passed in, nothing runs by itself, so tests stay deterministic.
#pragma once

#include "link/DeviceRecords.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qx::unit {

using Clock = std::chrono::steady_clock;
using Report = std::array<uint8_t, 65>;

inline constexpr std::size_t kMemorySize = 64 * 1024;
inline constexpr std::size_t kBlockSize = 512;
inline constexpr std::size_t kReportData = 58;

enum class LevelPattern { Silence, SteadyTone, Programme, Overload };

struct Identity {
    std::string manufacturer = "ORB-MX";
    std::string product = "QX-77ZT";
    std::string bootProduct = "QX-77ZT (boot)";
    std::string serial = "QX7700000042";
    uint16_t version = 0x0102;
    // Report lengths its descriptor declares, report ID included; another length makes it a
    // device that only claims to be the unit.
    uint16_t outputReportLength = 65;
    uint16_t inputReportLength = 65;
};

struct Faults {
    bool silent = false;                // answer nothing
    unsigned dropEveryNth = 0;          // drop answers 1·n, 2·n, ... (0: none)
    bool corruptCrc = false;            // flip a CRC bit of every answer
    unsigned pieceSize = kReportData;   // frame bytes per answer report, 1..58
    std::chrono::milliseconds delay{0}; // answers become readable this long after the request
    bool refuseWrites = false;          // output reports are refused, as by an unplugged device
};

struct Counters {
    unsigned framesReceived = 0;
    unsigned badFrames = 0;
    unsigned answersQueued = 0;
    unsigned answersDropped = 0;
    std::map<uint8_t, unsigned> byCommand;
};

class VirtualUnit {
public:
    explicit VirtualUnit(Identity identity = {});

    // Host to unit: one output report, report ID first. False when refused.
    bool acceptOutputReport(std::span<const uint8_t> report, Clock::time_point now = Clock::now());
    // Unit to host: the next answer report that is ready at `now`.
    std::optional<Report> takeInputReport(Clock::time_point now = Clock::now());
    // When the next queued report becomes ready; nullopt when none is queued.
    std::optional<Clock::time_point> nextReadyAt() const;
    std::size_t queuedReports() const;

    bool bootMode() const;
    // Restarts in boot or normal mode: partial frames and queued answers are lost.
    void restart(bool boot);
    // Called (outside the unit's lock) when the unit restarts itself: in normal mode when a frame
    // asks it to leave the update, and once the host has taken its verdict on a successful update
    // (when restartsAfterUpdate is on, as at first).
    void setRestartHandler(std::function<void(bool boot)> handler);
    void setRestartsAfterUpdate(bool on);

    Identity identity() const;
    void setIdentity(const Identity& identity);
    // The product string the unit reports in its present mode.
    std::string product() const;

    void setLevelPattern(LevelPattern pattern);
    LevelPattern levelPattern() const;
    void setFaults(const Faults& faults);
    Faults faults() const;

    DeviceSettings settings() const;
    void setSettings(const DeviceSettings& settings);
    DeviceStatus status() const;

    std::vector<uint8_t> flash() const;
    std::vector<uint8_t> eeprom() const;
    Counters counters() const;
    // The last complete, valid frame received.
    std::vector<uint8_t> lastFrame() const;

    // The levels of the pattern at its k-th status answer.
    static std::pair<int8_t, int8_t> patternLevels(LevelPattern pattern, unsigned k);

private:
    void handleFrame(std::span<const uint8_t> frame, Clock::time_point now, bool& restartNormal);
    void queueAnswer(uint8_t command, std::span<const uint8_t> payload, Clock::time_point now);
    void queueSettingsAnswer(uint8_t command, Clock::time_point now);
    void storeSettings(std::span<const uint8_t> bytes);
    void handleBlockWrite(std::span<const uint8_t> payload, bool flashMemory);

    mutable std::mutex mutex_;
    Identity identity_;
    bool boot_ = false;
    LevelPattern pattern_ = LevelPattern::Programme;
    Faults faults_;
    DeviceSettings settings_;
    DeviceStatus status_;
    unsigned statusAnswers_ = 0;
    unsigned answerCount_ = 0;
    std::vector<uint8_t> rx_;
    struct Pending {
        Report report;
        Clock::time_point readyAt;
        bool restartAfter = false; // the last piece of a successful verdict
    };
    std::deque<Pending> tx_;
    std::vector<uint8_t> flash_;
    std::vector<uint8_t> eeprom_;
    std::vector<bool> erased_; // flash blocks erased since their last write
    bool updateOk_ = true;
    bool anyBlockWritten_ = false;
    bool eepromWritten_ = false; // since the last finish: the settings go back to the factory's
    bool restartsAfterUpdate_ = true;
    Counters counters_;
    std::vector<uint8_t> lastFrame_;
    std::function<void(bool)> restartHandler_;
};

} // namespace qx::unit
