// SPDX-License-Identifier: GPL-3.0-or-later
// When a meter tells a screen reader that its reading changed. The unit answers ten times a
// second; a reader told of every answer would speak nothing else. So a change is told at most
// once a second, and at once when an over starts or the operator acted on the meter. A change
// held back is told at the first reading after the second is up, with the text of that moment.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace qx::levels {

class ReadingAnnouncer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{1000};

    enum class Urgency { Routine, Now };

    // Whether the meter, whose text at `now` is `text`, tells the reader now. Told texts are
    // remembered; an unchanged text is never told twice.
    bool due(Clock::time_point now, const std::string& text, Urgency urgency = Urgency::Routine);

    // True when nothing can be told at `now` whatever the text, so the caller need not make it:
    // most answers fall inside the second after the last telling.
    bool holdsBack(Clock::time_point now, Urgency urgency) const {
        return toldAt_ && urgency == Urgency::Routine && now - *toldAt_ < kInterval;
    }

private:
    std::optional<Clock::time_point> toldAt_;
    std::string told_;
};

} // namespace qx::levels
