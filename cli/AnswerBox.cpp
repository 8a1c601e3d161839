// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/AnswerBox.h"

namespace qx::cli {

void AnswerBox::finishAnswer(bool success) {
    {
        std::lock_guard lock(mutex_);
        ++counts_.finishes;
        lastVerdict_ = success;
    }
    changed_.notify_all();
}

void AnswerBox::resetAnswer() {
    {
        std::lock_guard lock(mutex_);
        ++counts_.resets;
    }
    changed_.notify_all();
}

AnswerBox::Counts AnswerBox::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

std::optional<bool> AnswerBox::waitFinish(const Counts& seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return counts_.finishes > seen.finishes; })) {
        return std::nullopt;
    }
    return lastVerdict_;
}

bool AnswerBox::waitReset(const Counts& seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return counts_.resets > seen.resets; });
}

} // namespace qx::cli
