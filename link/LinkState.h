// SPDX-License-Identifier: GPL-3.0-or-later
// The request mailbox, its resend copy, the link flags and the two unit records, shared by the
// user interface thread (posters, redraw), the link worker (sender) and the library's reader
// thread (answers).
//
// Locking: `mailboxMutex_` guards the mailbox, the resend copy and the worker's wake-up state;
// `recordsMutex_` guards the two records and the acknowledgement state. Only save() holds both,
// `recordsMutex_` first, so that a worker pass sees a settings write's post whole or not at all;
// nothing takes `recordsMutex_` while holding `mailboxMutex_`. Flags that are only observed are
// atomics.
#pragma once

#include "link/DeviceRecords.h"
#include "link/LinkCounters.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <vector>

namespace qx {

namespace cmd {
inline constexpr uint8_t kStatus = 0x00;
inline constexpr uint8_t kSettingsWrite = 0x80;
inline constexpr uint8_t kErase = 0xF0;
inline constexpr uint8_t kWriteFlash = 0xF1;
inline constexpr uint8_t kWriteEeprom = 0xF3;
inline constexpr uint8_t kFinish = 0xFA;
inline constexpr uint8_t kKeepAlive = 0xFB;
inline constexpr uint8_t kLeaveUpdate = 0xFC;
inline constexpr uint8_t kResetDefaults = 0xFD;

// Commands of the firmware update; these are always sent as posted (see LinkState::nextJob).
constexpr bool isUpdateCommand(uint8_t c) {
    return c >= kErase;
}
} // namespace cmd

// Who made a settings change, for the event log: the unit's own front panel makes changes too,
// which no save records.
enum class ChangeOrigin : uint8_t { Window, CommandLine, File, Profile, Restore };
// "window", "command line", "file", "profile", "restore".
const char* originWord(ChangeOrigin origin);

struct LinkRequest {
    uint8_t command = 0;
    // Payload bytes, copied when posted, so a poster never has to keep a buffer alive.
    std::vector<uint8_t> payload;
    // A settings write carries no bytes of its own: the settings record is read when the frame is
    // built, so every resend carries the operator's latest change.
    bool payloadIsSettings = false;
    // Written by the worker after each send: the library accepted every report of the frame.
    bool result = false;

    std::size_t length() const { return payloadIsSettings ? kSettingsSize : payload.size(); }
};

class LinkState {
public:
    using Clock = std::chrono::steady_clock;
    using Ticket = uint64_t;

    static constexpr std::chrono::milliseconds kResendInterval{100};
    static constexpr std::chrono::milliseconds kStatusInterval{100};

    LinkState() = default;
    LinkState(const LinkState&) = delete;
    LinkState& operator=(const LinkState&) = delete;

    // ---- link flags -------------------------------------------------------------------------
    std::atomic<bool> busy{false};
    std::atomic<bool> connected{false};
    std::atomic<bool> bootMode{false};
    std::atomic<bool> updateFinished{false};
    std::atomic<bool> updateInProgress{false};
    // A firmware transfer is running: device changes wait for its end rather than closing the
    // unit under it. Unlike `updateInProgress` it ends with the transfer whatever the unit
    // answers.
    std::atomic<bool> transferRunning{false};

    // What the link has done, for diagnostics.
    LinkCounters counters;
    // A recorder's view of the traffic; null when none is attached. Whoever sets it keeps the
    // tap alive for as long as the link runs.
    std::atomic<TrafficTap*> tap{nullptr};

    bool pending() const { return pending_.load(); }
    bool writeAcked() const { return writeAcked_.load(); }
    bool refreshNeeded() const { return refreshNeeded_.load(); }

    // ---- posting (user interface thread) ----------------------------------------------------
    // Writes the mailbox and raises `pending`. A request not yet taken is overwritten: the last
    // post wins. Returns a ticket to wait on.
    Ticket post(uint8_t command, std::span<const uint8_t> payload = {});

    // The status timer's post: only while the mailbox is free and the unit is not in boot mode.
    bool postStatusRequest();

    // Status polling: while on, the worker itself posts and sends a status request every
    // kStatusInterval, on the same terms as postStatusRequest (and not while a settings write
    // awaits its acknowledgement: the resend stands in for it). Timed by the worker's own wait,
    // so a poll costs the worker one wake-up and no other thread any. Off at first.
    void setStatusPolling(bool on);
    bool statusPolling() const;
    // When the worker polls next while polling is on.
    Clock::time_point nextStatusAt() const;

    // Changes the settings record with `edit` and posts a settings write: the request, `pending`,
    // `writeAcked` cleared and the resend copy, in one step, so that no answer arriving in
    // between can undo the edit and no worker pass sees half of it (and sends the write twice).
    Ticket save(const std::function<void(DeviceSettings&)>& edit, ChangeOrigin origin);
    Ticket save(const std::function<void(DeviceSettings&)>& edit = {}) {
        return save(edit, ChangeOrigin::Window);
    }
    // The newest save: how many there have been on this link, and who made the last one.
    struct SaveNote {
        uint64_t count = 0;
        ChangeOrigin origin = ChangeOrigin::Window;
    };
    SaveNote lastSave() const;

    // Blocks until the worker has taken the post of `ticket` (or the link was shut down) and
    // returns the request's result.
    bool waitTaken(Ticket ticket);
    // Same, but gives up after `timeout`; nullopt when not yet taken.
    std::optional<bool> waitTaken(Ticket ticket, std::chrono::milliseconds timeout);
    bool isTaken(Ticket ticket) const;

    // Snapshots, for tests and diagnostics.
    LinkRequest request() const;
    LinkRequest resendRequest() const;
    // When the worker sends the settings write next while it is unacknowledged.
    Clock::time_point nextResendAt() const;

    // Drops an unacknowledged settings write (a unit in its boot loader never acknowledges one).
    void abandonSettingsWrite();

    // ---- records ----------------------------------------------------------------------------
    DeviceSettings settings() const;
    DeviceStatus status() const;
    void setSettings(const DeviceSettings& s);
    // Changes the record without posting anything (the display's write-back of clamped values).
    void editSettings(const std::function<void(DeviceSettings&)>& edit);

    // Stores an answer's 18 settings and 20 status bytes when the acknowledgement state allows,
    // and raises `refreshNeeded`. `ackBit` is bit 7 of the answer's command. Returns true when
    // the records were replaced.
    bool storeAnswer(bool ackBit, std::span<const uint8_t, kAnswerPayloadSize> payload);
    // Where a stored answer's redraw goes: called on the storing thread (the library's reader),
    // it must hand the redraw on without waiting. Without one, the answer raises
    // `refreshNeeded` and wakes the worker, which passes the redraw on; with one, the worker
    // sleeps through answers. Set before answers arrive.
    void setRedrawHandOff(std::function<void()> handOff);
    // Any other valid answer: sets `writeAcked` when bit 7 of its command is set. Returns
    // whether `writeAcked` is now set (the answer may then be acted on).
    bool noteAnswer(bool ackBit);

    // ---- what the operator is told (status line, settings file) --------------------------
    // When the latest answer with a valid frame arrived, whatever it was; nullopt before the
    // first. Answers that fail their checksum never count.
    std::optional<Clock::time_point> lastAnswerAt() const;
    // An answer has replaced the records at least once: the settings record holds what a unit
    // reported (plus the operator's later changes), not the zeros it starts with.
    bool settingsReported() const;
    // When the oldest change the unit has not yet acknowledged was made; nullopt when there is
    // none.
    std::optional<Clock::time_point> unconfirmedSince() const;

    // How many answers have been stored so far; a caller that needs a fresh answer notes this
    // first and waits for it to grow.
    uint64_t answersStored() const;
    // Waits until more than `seen` answers have been stored and, when `acked` is set, the last
    // settings write has been acknowledged; false when `timeout` passed first or the link was
    // shut down.
    bool waitForAnswer(uint64_t seen, bool acked, std::chrono::milliseconds timeout);

    // ---- worker side ------------------------------------------------------------------------
    struct Job {
        LinkRequest request;
        Ticket ticket = 0;
        // Taken from the resend copy: the settings write awaiting its acknowledgement.
        bool resend = false;
        // A settings write that went out before with no save since: counted as a resend. The
        // first send of each save is not one, although it too is taken from the resend copy.
        bool repeat = false;
    };
    struct Work {
        std::optional<Job> job;
        bool redraw = false;
        bool stop = false;
    };

    // Waits until there is something to send or redraw, a status poll falls due, or a stop is
    // requested. Whoever requests the stop calls wakeWorker() after it. A redraw request is
    // cleared here, before the redraw runs, so an answer stored during the redraw asks for
    // another one instead of being lost.
    Work nextWork(std::stop_token stop);
    // Stores the send's result and frees the mailbox unless a newer post arrived meanwhile.
    void finishJob(const Job& job, bool result);
    // Fails every waiting poster (the worker is gone).
    void shutdown();

    // The settings bytes for a settings-write frame, and the edit they carry; marks that edit as
    // sent, so that the unit's acknowledgement of this very frame, which may come before the
    // send returns, counts.
    struct SettingsForSend {
        DeviceSettings settings;
        uint64_t edit = 0;
    };
    SettingsForSend takeSettingsForSend();
    // The frame carrying `edit` was refused: unless the operator has changed the record since,
    // the edit is unsent again, so that a late acknowledgement of an older write cannot overwrite
    // it or stop its resend.
    void settingsRefused(uint64_t edit);

    // Makes the worker look at its mailbox and its stop token again.
    void wakeWorker();

private:
    // Writes a status request into the mailbox; needs mailboxMutex_.
    void postStatusLocked();
    // The job that sends `request` and consumes every post so far; needs mailboxMutex_.
    Job takeLocked(const LinkRequest& request, bool resend);
    // The result of the send that took `ticket`; needs mailboxMutex_.
    bool resultOf(Ticket ticket) const;

    mutable std::mutex mailboxMutex_;
    // Notified after the mutex is released, so a woken thread does not block on it at once: a
    // plain condition variable, since one that also takes a stop token notifies under a lock of
    // its own. A stop reaches the worker through wakeWorker() from whoever requested it.
    std::condition_variable mailboxChanged_;
    // Answers are told apart from the worker's wake-ups so that they do not wake the worker.
    std::condition_variable answerStored_;
    std::function<void()> redrawHandOff_;                             // guarded by mailboxMutex_
    LinkRequest request_;                                             // guarded by mailboxMutex_
    LinkRequest resendRequest_{cmd::kSettingsWrite, {}, true, false}; // guarded by mailboxMutex_
    Ticket postSeq_ = 0;                                              // guarded by mailboxMutex_
    Ticket takenSeq_ = 0;                                             // guarded by mailboxMutex_
    // Results of the last few sends, by the newest ticket each one consumed, so a waiting poster
    // reads the result of the send that took its post even if another send followed at once.
    struct TakenResult {
        Ticket upTo = 0;
        bool result = false;
    };
    std::vector<TakenResult> recentResults_; // guarded by mailboxMutex_
    bool shutDown_ = false;                  // guarded by mailboxMutex_
    uint64_t wakeGen_ = 0; // guarded by mailboxMutex_; bumped by every change the worker acts on
    Clock::time_point nextResendAt_{}; // guarded by mailboxMutex_
    bool statusPolling_ = false;       // guarded by mailboxMutex_
    Clock::time_point nextStatusAt_{}; // guarded by mailboxMutex_
    // The newest save that asked for its write to go out at once; a send that was taken before
    // it must not push that back by a resend interval. Guarded by mailboxMutex_.
    Ticket immediateSave_ = 0;
    // The newest save's ticket, and the newest ticket a settings write was taken with: a write
    // taken while the first is not above the second repeats one already sent. Guarded by
    // mailboxMutex_.
    Ticket newestSave_ = 0;
    Ticket writeTakenUpTo_ = 0;
    std::atomic<bool> pending_{false};       // written under mailboxMutex_
    std::atomic<bool> refreshNeeded_{false}; // written under mailboxMutex_
    uint64_t answersStored_ = 0;             // guarded by mailboxMutex_

    mutable std::mutex recordsMutex_;
    DeviceSettings settings_;                       // guarded by recordsMutex_
    DeviceStatus status_;                           // guarded by recordsMutex_
    bool editNotYetSent_ = false;                   // guarded by recordsMutex_
    uint64_t editSeq_ = 0;                          // guarded by recordsMutex_; bumped by save()
    SaveNote lastSave_;                             // guarded by recordsMutex_
    std::optional<Clock::time_point> lastAnswerAt_; // guarded by recordsMutex_
    bool settingsReported_ = false;                 // guarded by recordsMutex_
    Clock::time_point unconfirmedSince_{};          // guarded by recordsMutex_
    std::atomic<bool> writeAcked_{true};            // written under recordsMutex_
};

} // namespace qx
