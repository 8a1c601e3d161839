// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinkState.h"

#include <algorithm>
#include <cstring>

namespace qx {

namespace {
constexpr std::size_t kKeptResults = 16;
}

LinkState::Ticket LinkState::post(uint8_t command, std::span<const uint8_t> payload) {
    Ticket ticket;
    {
        std::lock_guard lock(mailboxMutex_);
        request_.command = command;
        request_.payload.assign(payload.begin(), payload.end());
        request_.payloadIsSettings = false;
        ticket = ++postSeq_;
        pending_ = true;
        ++wakeGen_;
    }
    mailboxChanged_.notify_all();
    return ticket;
}

bool LinkState::postStatusRequest() {
    {
        std::lock_guard lock(mailboxMutex_);
        if (pending_ || bootMode) {
            return false;
        }
        postStatusLocked();
        ++wakeGen_;
    }
    mailboxChanged_.notify_all();
    return true;
}

void LinkState::postStatusLocked() {
    request_.command = cmd::kStatus;
    request_.payload.clear();
    request_.payloadIsSettings = false;
    ++postSeq_;
    pending_ = true;
}

void LinkState::setStatusPolling(bool on) {
    {
        std::lock_guard lock(mailboxMutex_);
        if (on == statusPolling_) {
            return;
        }
        statusPolling_ = on;
        nextStatusAt_ = Clock::now();
        ++wakeGen_;
    }
    mailboxChanged_.notify_all();
}

bool LinkState::statusPolling() const {
    std::lock_guard lock(mailboxMutex_);
    return statusPolling_;
}

LinkState::Clock::time_point LinkState::nextStatusAt() const {
    std::lock_guard lock(mailboxMutex_);
    return nextStatusAt_;
}

const char* originWord(ChangeOrigin origin) {
    switch (origin) {
    case ChangeOrigin::Window:
        return "window";
    case ChangeOrigin::CommandLine:
        return "command line";
    case ChangeOrigin::File:
        return "file";
    case ChangeOrigin::Profile:
        return "profile";
    case ChangeOrigin::Restore:
        return "restore";
    }
    return "";
}

LinkState::SaveNote LinkState::lastSave() const {
    std::lock_guard lock(recordsMutex_);
    return lastSave_;
}

LinkState::Ticket LinkState::save(const std::function<void(DeviceSettings&)>& edit,
                                  ChangeOrigin origin) {
    Ticket ticket;
    {
        // Both locks, the records' first: the worker looks at `writeAcked_` under the mailbox's
        // lock, so it finds the write either not yet posted or posted with its resend copy and
        // schedule. Seeing only the cleared acknowledgement, it would send the old resend copy
        // and then the new post as well.
        std::lock_guard records(recordsMutex_);
        if (edit) {
            edit(settings_);
        }
        editNotYetSent_ = true;
        ++editSeq_;
        lastSave_ = {lastSave_.count + 1, origin};
        std::lock_guard mailbox(mailboxMutex_);
        const bool wasAcked = writeAcked_.exchange(false);
        if (wasAcked) {
            unconfirmedSince_ = Clock::now();
        }
        request_.command = cmd::kSettingsWrite;
        request_.payload.clear();
        request_.payloadIsSettings = true;
        ticket = ++postSeq_;
        newestSave_ = ticket;
        pending_ = true;
        resendRequest_ = request_;
        if (wasAcked) {
            // The first unacknowledged write goes out at once; later edits ride on the resend
            // schedule, which always carries the latest record.
            nextResendAt_ = Clock::now();
            immediateSave_ = ticket;
        }
        ++wakeGen_;
    }
    mailboxChanged_.notify_all();
    return ticket;
}

bool LinkState::isTaken(Ticket ticket) const {
    std::lock_guard lock(mailboxMutex_);
    return takenSeq_ >= ticket || shutDown_;
}

bool LinkState::resultOf(Ticket ticket) const {
    for (const TakenResult& r : recentResults_) {
        if (r.upTo >= ticket) {
            return r.result;
        }
    }
    return false;
}

bool LinkState::waitTaken(Ticket ticket) {
    std::unique_lock lock(mailboxMutex_);
    mailboxChanged_.wait(lock, [&] { return takenSeq_ >= ticket || shutDown_; });
    return resultOf(ticket);
}

std::optional<bool> LinkState::waitTaken(Ticket ticket, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mailboxMutex_);
    if (!mailboxChanged_.wait_for(lock, timeout,
                                  [&] { return takenSeq_ >= ticket || shutDown_; })) {
        return std::nullopt;
    }
    return resultOf(ticket);
}

LinkRequest LinkState::request() const {
    std::lock_guard lock(mailboxMutex_);
    return request_;
}

LinkRequest LinkState::resendRequest() const {
    std::lock_guard lock(mailboxMutex_);
    return resendRequest_;
}

LinkState::Clock::time_point LinkState::nextResendAt() const {
    std::lock_guard lock(mailboxMutex_);
    return nextResendAt_;
}

void LinkState::abandonSettingsWrite() {
    {
        std::lock_guard lock(recordsMutex_);
        writeAcked_ = true;
        editNotYetSent_ = false;
    }
    wakeWorker();
}

DeviceSettings LinkState::settings() const {
    std::lock_guard lock(recordsMutex_);
    return settings_;
}

std::optional<LinkState::Clock::time_point> LinkState::lastAnswerAt() const {
    std::lock_guard lock(recordsMutex_);
    return lastAnswerAt_;
}

bool LinkState::settingsReported() const {
    std::lock_guard lock(recordsMutex_);
    return settingsReported_;
}

std::optional<LinkState::Clock::time_point> LinkState::unconfirmedSince() const {
    std::lock_guard lock(recordsMutex_);
    if (writeAcked_) {
        return std::nullopt;
    }
    return unconfirmedSince_;
}

DeviceStatus LinkState::status() const {
    std::lock_guard lock(recordsMutex_);
    return status_;
}

void LinkState::setSettings(const DeviceSettings& s) {
    std::lock_guard lock(recordsMutex_);
    settings_ = s;
}

void LinkState::editSettings(const std::function<void(DeviceSettings&)>& edit) {
    std::lock_guard lock(recordsMutex_);
    edit(settings_);
}

bool LinkState::storeAnswer(bool ackBit, std::span<const uint8_t, kAnswerPayloadSize> payload) {
    {
        std::lock_guard lock(recordsMutex_);
        lastAnswerAt_ = Clock::now();
        if (ackBit && editNotYetSent_) {
            // An acknowledgement of an older write that arrived before the latest edit was even
            // sent: storing it would undo that edit on screen and stop its resend.
            return false;
        }
        if (ackBit) {
            writeAcked_ = true;
        }
        if (!writeAcked_) {
            return false;
        }
        std::memcpy(&settings_, payload.data(), kSettingsSize);
        std::memcpy(&status_, payload.data() + kSettingsSize, kStatusSize);
        settingsReported_ = true;
    }
    std::function<void()> handOff;
    {
        std::lock_guard lock(mailboxMutex_);
        ++answersStored_;
        if (redrawHandOff_) {
            handOff = redrawHandOff_;
        } else {
            refreshNeeded_ = true;
            ++wakeGen_;
        }
    }
    answerStored_.notify_all();
    if (handOff) {
        handOff();
    } else {
        mailboxChanged_.notify_all();
    }
    return true;
}

void LinkState::setRedrawHandOff(std::function<void()> handOff) {
    std::lock_guard lock(mailboxMutex_);
    redrawHandOff_ = std::move(handOff);
}

uint64_t LinkState::answersStored() const {
    std::lock_guard lock(mailboxMutex_);
    return answersStored_;
}

bool LinkState::waitForAnswer(uint64_t seen, bool acked, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mailboxMutex_);
    // writeAcked_ is set before the answer is counted, so a counted answer sees it.
    const auto fresh = [&] { return answersStored_ > seen && (!acked || writeAcked_.load()); };
    answerStored_.wait_for(lock, timeout, [&] { return shutDown_ || fresh(); });
    return !shutDown_ && fresh();
}

bool LinkState::noteAnswer(bool ackBit) {
    bool acked;
    {
        std::lock_guard lock(recordsMutex_);
        lastAnswerAt_ = Clock::now();
        if (ackBit && !editNotYetSent_) {
            writeAcked_ = true;
        }
        acked = ackBit || writeAcked_;
    }
    if (ackBit) {
        wakeWorker();
    }
    return acked;
}

LinkState::SettingsForSend LinkState::takeSettingsForSend() {
    std::lock_guard lock(recordsMutex_);
    editNotYetSent_ = false;
    return {settings_, editSeq_};
}

void LinkState::settingsRefused(uint64_t edit) {
    std::lock_guard lock(recordsMutex_);
    if (edit == editSeq_) {
        editNotYetSent_ = true;
    }
}

LinkState::Work LinkState::nextWork(std::stop_token stop) {
    // No stop callback: the one of the Windows build's C++ library can miss the wake-up that
    // ends its destructor's wait, leaving the worker asleep forever when a stop's callback runs
    // on another thread at that moment. The stop's requester wakes the worker instead, and the
    // stop is looked at under the lock that wakeWorker() also takes, so it cannot be missed.
    std::unique_lock lock(mailboxMutex_);
    for (;;) {
        Work work;
        if (stop.stop_requested()) {
            work.stop = true;
            return work;
        }
        work.redraw = refreshNeeded_.exchange(false);

        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> deadline;
        if (pending_ && cmd::isUpdateCommand(request_.command)) {
            // Update commands must really reach the unit, even with a settings write left
            // unacknowledged: they are never replaced by the resend.
            work.job = Job{request_, postSeq_, false};
        } else if (!writeAcked_) {
            if (now >= nextResendAt_) {
                // The resend consumes whatever was posted meanwhile.
                work.job = takeLocked(resendRequest_, true);
            } else {
                deadline = nextResendAt_;
            }
        } else if (pending_) {
            work.job = takeLocked(request_, false);
        } else if (statusPolling_) {
            if (bootMode) {
                // Nothing is polled in boot mode; looked at again as often as a poll would be.
                deadline = now + kStatusInterval;
            } else if (now >= nextStatusAt_) {
                postStatusLocked();
                work.job = Job{request_, postSeq_, false};
                // A steady cadence: a poll held back by other requests does not shift the rest.
                nextStatusAt_ += kStatusInterval;
                if (nextStatusAt_ <= now) {
                    nextStatusAt_ = now + kStatusInterval;
                }
            } else {
                deadline = nextStatusAt_;
            }
        }

        if (work.job || work.redraw) {
            return work;
        }
        // Sleep until something changes (a post, an acknowledgement, a stop) or the resend or
        // the next poll falls due; posts made while a write awaits its acknowledgement wait for
        // the deadline.
        const uint64_t seen = wakeGen_;
        auto changed = [&] { return wakeGen_ != seen; };
        if (deadline) {
            mailboxChanged_.wait_until(lock, *deadline, changed);
        } else {
            mailboxChanged_.wait(lock, changed);
        }
    }
}

LinkState::Job LinkState::takeLocked(const LinkRequest& request, bool resend) {
    Job job{request, postSeq_, resend};
    if (request.command == cmd::kSettingsWrite && request.payloadIsSettings) {
        job.repeat = newestSave_ <= writeTakenUpTo_;
        writeTakenUpTo_ = postSeq_;
    }
    return job;
}

void LinkState::finishJob(const Job& job, bool result) {
    {
        std::lock_guard lock(mailboxMutex_);
        request_.result = result;
        if (job.resend) {
            resendRequest_.result = result;
            // The unit may have acknowledged this write, and the operator made the next change,
            // before the send returned here: that change still goes out at once.
            if (immediateSave_ <= job.ticket) {
                nextResendAt_ = Clock::now() + kResendInterval;
            }
        }
        takenSeq_ = std::max(takenSeq_, job.ticket);
        recentResults_.push_back({job.ticket, result});
        if (recentResults_.size() > kKeptResults) {
            recentResults_.erase(recentResults_.begin());
        }
        if (job.ticket == postSeq_) {
            pending_ = false;
        }
    }
    mailboxChanged_.notify_all();
}

void LinkState::shutdown() {
    {
        std::lock_guard lock(mailboxMutex_);
        shutDown_ = true;
        ++wakeGen_;
    }
    mailboxChanged_.notify_all();
    answerStored_.notify_all();
}

void LinkState::wakeWorker() {
    {
        std::lock_guard lock(mailboxMutex_);
        ++wakeGen_;
    }
    mailboxChanged_.notify_all();
}

} // namespace qx
