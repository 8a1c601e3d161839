// SPDX-License-Identifier: GPL-3.0-or-later
// What the link has done since the program started, for the diagnostics report, and the tap
// through which a recorder sees every report that crosses the wire.
//
// The counters are bumped on the link worker (sends) and the library's reader thread (answers)
// and read from anywhere, so each one is an atomic of its own; a snapshot is a plain record.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace qx {

struct LinkCountersSnapshot {
    uint64_t framesSent = 0;      // frames whose every piece the library accepted
    uint64_t piecesRefused = 0;   // reports the library refused to send
    uint64_t answersReceived = 0; // answer frames that passed their checks
    uint64_t crcFailures = 0;     // answers whose CRC did not match
    uint64_t lengthFailures = 0;  // answers whose length did not fit, or too short to read
    uint64_t resends = 0; // repeats of an unacknowledged settings write (not its first send)
    // Time since the last good answer; nullopt when none has arrived yet.
    std::optional<std::chrono::milliseconds> lastAnswerAge;
};

class LinkCounters {
public:
    using Clock = std::chrono::steady_clock;

    std::atomic<uint64_t> framesSent{0};
    std::atomic<uint64_t> piecesRefused{0};
    std::atomic<uint64_t> crcFailures{0};
    std::atomic<uint64_t> lengthFailures{0};
    std::atomic<uint64_t> resends{0};

    void noteAnswer(Clock::time_point at = Clock::now()) {
        lastAnswerNs_.store(at.time_since_epoch().count(), std::memory_order_relaxed);
        answersReceived_.fetch_add(1, std::memory_order_release);
    }

    LinkCountersSnapshot snapshot(Clock::time_point now = Clock::now()) const {
        LinkCountersSnapshot s;
        s.framesSent = framesSent.load(std::memory_order_relaxed);
        s.piecesRefused = piecesRefused.load(std::memory_order_relaxed);
        s.answersReceived = answersReceived_.load(std::memory_order_acquire);
        s.crcFailures = crcFailures.load(std::memory_order_relaxed);
        s.lengthFailures = lengthFailures.load(std::memory_order_relaxed);
        s.resends = resends.load(std::memory_order_relaxed);
        if (s.answersReceived != 0) {
            const Clock::time_point last{
                Clock::duration{lastAnswerNs_.load(std::memory_order_relaxed)}};
            s.lastAnswerAge = std::chrono::duration_cast<std::chrono::milliseconds>(
                now > last ? now - last : Clock::duration::zero());
        }
        return s;
    }

private:
    std::atomic<uint64_t> answersReceived_{0};
    std::atomic<Clock::rep> lastAnswerNs_{0};
};

// Sees every report the link sends and every input report it receives, on the thread that
// moves it (the link worker, the library's reader). Must be quick and must not call back into
// the link.
class TrafficTap {
public:
    virtual ~TrafficTap() = default;
    // An output report, just before it goes to the library (so that it comes before its answer).
    virtual void sent(std::span<const uint8_t> report) = 0;
    // The library refused the report just sent: it never reached the unit.
    virtual void refused(std::span<const uint8_t> report) = 0;
    virtual void received(std::span<const uint8_t> report) = 0;
};

} // namespace qx
