// SPDX-License-Identifier: GPL-3.0-or-later
// The unit's answers to a finished update and to a reset, kept for a command that waits for
// them. Called on the library's reader thread; waited on by the command's thread.
#pragma once

#include "link/Transport.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace qx::cli {

class AnswerBox : public AnswerSink {
public:
    struct Counts {
        uint64_t finishes = 0;
        uint64_t resets = 0;
    };

    void finishAnswer(bool success) override;
    void resetAnswer() override;

    Counts counts() const;
    // The verdict of the first finish answer after `seen`, or nullopt when none came in time.
    std::optional<bool> waitFinish(const Counts& seen, std::chrono::milliseconds timeout);
    // True when a reset answer came after `seen` in time.
    bool waitReset(const Counts& seen, std::chrono::milliseconds timeout);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Counts counts_;            // guarded by mutex_
    bool lastVerdict_ = false; // guarded by mutex_
};

// Hands each answer to two sinks: the window's own and a command's.
class AnswerFanOut : public AnswerSink {
public:
    AnswerFanOut(AnswerSink& first, AnswerSink& second) : first_(first), second_(second) {}
    void finishAnswer(bool success) override {
        first_.finishAnswer(success);
        second_.finishAnswer(success);
    }
    void resetAnswer() override {
        first_.resetAnswer();
        second_.resetAnswer();
    }

private:
    AnswerSink& first_;
    AnswerSink& second_;
};

} // namespace qx::cli
