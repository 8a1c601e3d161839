// SPDX-License-Identifier: GPL-3.0-or-later
// The texts made from readings: a dB value as the operator reads it, the sentence a screen
// reader speaks for a meter, and the CSV export of the history.
#pragma once

#include "levels/LevelRing.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qx::levels {

// The reading of `level` without padding ("-52" for every level up to -35); empty above the
// table.
std::string readingText(int level);

// A dB value with at most one decimal and the dot as separator whatever the locale ("-16",
// "-5.4", "0").
std::string dbText(double db);

// What a meter shows, "-22 dB, peak -16 dB, over": the peak only while a marker shows, "over"
// only while the latch is set.
std::string meterValue(int level, std::optional<double> peakDb, bool over);
// The same after the meter's name: "Left level -22 dB, peak -16 dB, over".
std::string meterSentence(const std::string& side, int level, std::optional<double> peakDb,
                          bool over);

// Wall time in ms as ISO 8601 local time with milliseconds and the offset from UTC:
// "2026-12-10T15:42:07.300+01:00".
std::string isoLocalTime(int64_t wallMs);

// The header line and one line per reading, oldest first, each ended by "\n".
std::string historyCsv(const LevelRing& ring);

} // namespace qx::levels
