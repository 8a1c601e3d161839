// SPDX-License-Identifier: GPL-3.0-or-later
// The one sentence the main window's status line shows about the link: what is happening and,
// where the operator can do something about it, what to do.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qx::panel {

// A unit that has said nothing for longer than this is taken as not answering.
inline constexpr std::chrono::milliseconds kSilentAfter{1000};
// A change the unit has not confirmed for longer than this is worth mentioning.
inline constexpr std::chrono::milliseconds kUnconfirmedAfter{500};

struct LinkView {
    bool connected = false;
    bool bootMode = false;
    // The unit found by the last scan.
    std::string name;
    std::string serial;
    std::string version;
    // Since the unit's last answer or since it was connected, whichever came later.
    std::chrono::milliseconds silentFor{0};
    // How long the oldest change not yet confirmed has waited; nullopt when there is none.
    std::optional<std::chrono::milliseconds> unconfirmedFor;
    // Answers that arrived since the last good one but failed their checks (checksum, length).
    std::uint64_t damagedAnswers = 0;
};

// Damaged: answers keep arriving, but none passes its checks (a cable or port fault, not a
// silent unit).
enum class LinkCondition { NoUnit, Connected, BootLoader, Silent, Damaged, Unconfirmed };

struct StatusSentence {
    LinkCondition condition = LinkCondition::NoUnit;
    std::string text;
    // The meters show a reading that the unit no longer confirms.
    bool metersStale = false;
};

// Silence outranks an unconfirmed change: while nothing is answered, no change can be confirmed
// either, and the stale meters are the more important news.
StatusSentence statusSentence(const LinkView& v);

// How long the sentence for `v` can stand with nothing but time passing: the moment a silence
// or a wait for confirmation becomes worth telling. A change made after `v` was taken is
// worth telling kUnconfirmedAfter later at the earliest, so the wait is never longer than
// that while a connected unit answers. nullopt: only an event (a scan, an answer) can change it.
std::optional<std::chrono::milliseconds> sentenceStandsFor(const LinkView& v);

} // namespace qx::panel
