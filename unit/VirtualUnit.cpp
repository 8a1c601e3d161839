// SPDX-License-Identifier: GPL-3.0-or-later
#include "unit/VirtualUnit.h"

#include "link/LinkFrame.h"

#include <algorithm>
#include <cmath>

namespace qx::unit {

namespace {

constexpr uint8_t kStatus = 0x00;
constexpr uint8_t kSettingsWrite = 0x80;
constexpr uint8_t kErase = 0xF0;
constexpr uint8_t kWriteFlash = 0xF1;
constexpr uint8_t kWriteEeprom = 0xF3;
constexpr uint8_t kFinish = 0xFA;
constexpr uint8_t kLeaveUpdate = 0xFC;
constexpr uint8_t kResetDefaults = 0xFD;

// Receive buffer bound: the largest frame a host can number in 16 bits.
constexpr std::size_t kMaxFrame = 65535;

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

int8_t clampLevel(double v) {
    return static_cast<int8_t>(std::clamp(static_cast<int>(std::lround(v)), -35, 13));
}

} // namespace

VirtualUnit::VirtualUnit(Identity identity)
    : identity_(std::move(identity)), settings_(factoryDefaults()), flash_(kMemorySize, 0xFF),
      eeprom_(kMemorySize, 0xFF), erased_(kMemorySize / kBlockSize, false) {}

std::pair<int8_t, int8_t> VirtualUnit::patternLevels(LevelPattern pattern, unsigned k) {
    switch (pattern) {
    case LevelPattern::Silence:
        return {-40, -40};
    case LevelPattern::SteadyTone:
        return {0, -2};
    case LevelPattern::Overload:
        return {static_cast<int8_t>(9 + k % 5), static_cast<int8_t>(13 - k % 4)};
    case LevelPattern::Programme:
    default: {
        const double t = static_cast<double>(k);
        return {clampLevel(-12 + 9 * std::sin(t * 0.21) + 4 * std::sin(t * 0.77)),
                clampLevel(-13 + 9 * std::sin(t * 0.19 + 1.0) + 4 * std::sin(t * 0.83 + 0.5))};
    }
    }
}

bool VirtualUnit::acceptOutputReport(std::span<const uint8_t> report, Clock::time_point now) {
    bool restartNormal = false;
    std::function<void(bool)> handler;
    {
        std::lock_guard lock(mutex_);
        if (faults_.refuseWrites) {
            return false;
        }
        // Report ID, offset (2), total (2), data (58), piece length (1).
        if (report.size() < 64) {
            return true; // taken but meaningless
        }
        const std::size_t offset = be16(&report[1]);
        const std::size_t total = be16(&report[3]);
        const std::size_t piece = std::min<std::size_t>(report[63], kReportData);
        if (offset + piece > kMaxFrame) {
            rx_.clear();
            return true;
        }
        if (rx_.size() < offset + piece) {
            rx_.resize(offset + piece);
        }
        std::copy_n(report.begin() + 5, piece, rx_.begin() + static_cast<std::ptrdiff_t>(offset));
        if (offset + piece < total) {
            return true;
        }
        const std::vector<uint8_t> frame = std::move(rx_);
        rx_.clear();
        if (!checkFrame(frame)) {
            ++counters_.badFrames;
            return true;
        }
        handleFrame(frame, now, restartNormal);
        if (restartNormal) {
            handler = restartHandler_;
        }
    }
    if (handler) {
        handler(false);
    }
    return true;
}

void VirtualUnit::handleFrame(std::span<const uint8_t> frame, Clock::time_point now,
                              bool& restartNormal) {
    const auto view = checkFrame(frame);
    const uint8_t command = view->command;
    const std::span<const uint8_t> payload = view->payload;
    ++counters_.framesReceived;
    ++counters_.byCommand[command];
    lastFrame_.assign(frame.begin(),
                      frame.begin() + static_cast<std::ptrdiff_t>(payload.size() + kFrameOverhead));

    if (!boot_) {
        if (command == kStatus) {
            const auto [l, r] = patternLevels(pattern_, statusAnswers_++);
            status_.levelLeft = l;
            status_.levelRight = r;
            queueSettingsAnswer(kStatus, now);
        } else if (command == kSettingsWrite && payload.size() >= kSettingsSize) {
            storeSettings(payload.first(kSettingsSize));
            queueSettingsAnswer(kSettingsWrite, now);
        } else if (command == kResetDefaults) {
            settings_ = factoryDefaults();
            queueAnswer(kResetDefaults, {}, now);
        }
        return;
    }

    switch (command) {
    case kErase:
        if (payload.size() >= 2) {
            const std::size_t adr = be16(payload.data());
            const std::size_t block = adr / kBlockSize;
            std::fill_n(flash_.begin() + static_cast<std::ptrdiff_t>(block * kBlockSize),
                        kBlockSize, uint8_t{0xFF});
            erased_[block] = true;
        }
        break;
    case kWriteFlash:
        handleBlockWrite(payload, true);
        break;
    case kWriteEeprom:
        handleBlockWrite(payload, false);
        break;
    case kFinish: {
        const uint8_t verdict = (updateOk_ && anyBlockWritten_) ? 1 : 0;
        // The settings live in the EEPROM: a new EEPROM image brings the factory values back.
        if (verdict != 0 && eepromWritten_) {
            settings_ = factoryDefaults();
        }
        updateOk_ = true;
        anyBlockWritten_ = false;
        eepromWritten_ = false;
        const std::size_t queued = tx_.size();
        queueAnswer(kFinish, std::span<const uint8_t>(&verdict, 1), now);
        // A unit runs its new firmware once it has said so; a lost verdict restarts nothing.
        if (verdict != 0 && restartsAfterUpdate_ && tx_.size() > queued) {
            tx_.back().restartAfter = true;
        }
        break;
    }
    case kLeaveUpdate:
        restartNormal = true;
        break;
    case kResetDefaults:
        settings_ = factoryDefaults();
        queueAnswer(kResetDefaults, {}, now);
        break;
    default: // keep-alive and everything else: no answer
        break;
    }
}

void VirtualUnit::handleBlockWrite(std::span<const uint8_t> payload, bool flashMemory) {
    anyBlockWritten_ = true;
    if (payload.size() < 4) {
        updateOk_ = false;
        return;
    }
    const std::size_t adr = be16(payload.data());
    const std::size_t length = be16(payload.data() + 2);
    if (length != kBlockSize || payload.size() != 4 + kBlockSize || adr % kBlockSize != 0) {
        updateOk_ = false;
        return;
    }
    std::vector<uint8_t>& memory = flashMemory ? flash_ : eeprom_;
    eepromWritten_ = eepromWritten_ || !flashMemory;
    if (flashMemory) {
        const std::size_t block = adr / kBlockSize;
        if (!erased_[block]) {
            updateOk_ = false;
        }
        erased_[block] = false;
    }
    std::copy_n(payload.begin() + 4, kBlockSize, memory.begin() + static_cast<std::ptrdiff_t>(adr));
}

void VirtualUnit::storeSettings(std::span<const uint8_t> bytes) {
    // Like the real unit, keep every field in its range: an out-of-range byte keeps the old value.
    DeviceSettings in;
    std::copy_n(bytes.begin(), kSettingsSize, rawBytes(in).begin());
    DeviceSettings& s = settings_;
    auto keep = [](auto& field, auto value, int lo, int hi) {
        if (value >= lo && value <= hi) {
            field = value;
        }
    };
    keep(s.preset, in.preset, 0, 3);
    for (int i = 0; i < 8; ++i) {
        keep(s.source[i], in.source[i], 0, kSourceCount - 1);
    }
    keep(s.muteOn, in.muteOn, 0, 1);
    keep(s.dimMode, in.dimMode, 0, 2);
    keep(s.monitorMode, in.monitorMode, 0, 2);
    keep(s.gainLeft, in.gainLeft, -32, 16);
    keep(s.gainRight, in.gainRight, -32, 16);
    keep(s.ballistics, in.ballistics, 0, 1);
    keep(s.peakHold, in.peakHold, 0, 2);
    keep(s.brightness, in.brightness, 0, 3);
    keep(s.levelScale, in.levelScale, 0, 1);
}

void VirtualUnit::queueSettingsAnswer(uint8_t command, Clock::time_point now) {
    std::array<uint8_t, kAnswerPayloadSize> payload{};
    const auto s = rawBytes(settings_);
    std::copy(s.begin(), s.end(), payload.begin());
    std::copy_n(reinterpret_cast<const uint8_t*>(&status_), kStatusSize,
                payload.begin() + kSettingsSize);
    queueAnswer(command, payload, now);
}

void VirtualUnit::queueAnswer(uint8_t command, std::span<const uint8_t> payload,
                              Clock::time_point now) {
    if (faults_.silent) {
        return;
    }
    ++answerCount_;
    if (faults_.dropEveryNth != 0 && answerCount_ % faults_.dropEveryNth == 0) {
        ++counters_.answersDropped;
        return;
    }
    std::vector<uint8_t> frame = buildFrame(command, payload).bytes;
    if (faults_.corruptCrc) {
        frame.back() ^= 0x01;
    }
    ++counters_.answersQueued;
    // Every piece but the last carries an offset below its total; the last one an offset at or
    // above it, which is how the host knows the frame is complete.
    const std::size_t pieceSize = std::clamp<std::size_t>(faults_.pieceSize, 1, kReportData);
    const std::size_t total = frame.size();
    for (std::size_t p = 0; p < total; p += pieceSize) {
        const std::size_t n = std::min(pieceSize, total - p);
        const bool last = p + n >= total;
        Pending out{};
        out.report[0] = 1;
        out.report[1] = static_cast<uint8_t>(p >> 8);
        out.report[2] = static_cast<uint8_t>(p & 0xFF);
        const std::size_t totalField = last ? p : total;
        out.report[3] = static_cast<uint8_t>(totalField >> 8);
        out.report[4] = static_cast<uint8_t>(totalField & 0xFF);
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(p), n, out.report.begin() + 5);
        out.report[63] = static_cast<uint8_t>(n);
        out.readyAt = now + faults_.delay;
        tx_.push_back(out);
    }
}

std::optional<Report> VirtualUnit::takeInputReport(Clock::time_point now) {
    Report r{};
    std::function<void(bool)> handler;
    {
        std::lock_guard lock(mutex_);
        if (tx_.empty() || tx_.front().readyAt > now) {
            return std::nullopt;
        }
        r = tx_.front().report;
        if (tx_.front().restartAfter) {
            handler = restartHandler_;
        }
        tx_.pop_front();
    }
    // Outside the lock, like the restart a frame asks for: the handler re-enters the unit.
    if (handler) {
        handler(false);
    }
    return r;
}

std::optional<Clock::time_point> VirtualUnit::nextReadyAt() const {
    std::lock_guard lock(mutex_);
    if (tx_.empty()) {
        return std::nullopt;
    }
    return tx_.front().readyAt;
}

std::size_t VirtualUnit::queuedReports() const {
    std::lock_guard lock(mutex_);
    return tx_.size();
}

bool VirtualUnit::bootMode() const {
    std::lock_guard lock(mutex_);
    return boot_;
}

void VirtualUnit::restart(bool boot) {
    std::lock_guard lock(mutex_);
    boot_ = boot;
    rx_.clear();
    tx_.clear();
    updateOk_ = true;
    anyBlockWritten_ = false;
    eepromWritten_ = false;
}

void VirtualUnit::setRestartsAfterUpdate(bool on) {
    std::lock_guard lock(mutex_);
    restartsAfterUpdate_ = on;
}

void VirtualUnit::setRestartHandler(std::function<void(bool)> handler) {
    std::lock_guard lock(mutex_);
    restartHandler_ = std::move(handler);
}

Identity VirtualUnit::identity() const {
    std::lock_guard lock(mutex_);
    return identity_;
}

void VirtualUnit::setIdentity(const Identity& identity) {
    std::lock_guard lock(mutex_);
    identity_ = identity;
}

std::string VirtualUnit::product() const {
    std::lock_guard lock(mutex_);
    return boot_ ? identity_.bootProduct : identity_.product;
}

void VirtualUnit::setLevelPattern(LevelPattern pattern) {
    std::lock_guard lock(mutex_);
    pattern_ = pattern;
}

LevelPattern VirtualUnit::levelPattern() const {
    std::lock_guard lock(mutex_);
    return pattern_;
}

void VirtualUnit::setFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

Faults VirtualUnit::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

DeviceSettings VirtualUnit::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void VirtualUnit::setSettings(const DeviceSettings& settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

DeviceStatus VirtualUnit::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::vector<uint8_t> VirtualUnit::flash() const {
    std::lock_guard lock(mutex_);
    return flash_;
}

std::vector<uint8_t> VirtualUnit::eeprom() const {
    std::lock_guard lock(mutex_);
    return eeprom_;
}

Counters VirtualUnit::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

std::vector<uint8_t> VirtualUnit::lastFrame() const {
    std::lock_guard lock(mutex_);
    return lastFrame_;
}

} // namespace qx::unit
