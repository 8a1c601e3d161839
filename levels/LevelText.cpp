// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/LevelText.h"

#include "levels/LevelScale.h"
#include "levels/LocalTime.h"
#include "panel/PanelModel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace qx::levels {

std::string readingText(int level) {
    if (level > panel::kHighestLevel) {
        return {};
    }
    return panel::levelTableText(std::max(0, level - panel::kLowestLevel));
}

std::string dbText(double db) {
    // to_chars ignores the locale, unlike printf and streams.
    std::array<char, 32> buf{};
    const double tenths = std::round(db * 10) / 10;
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), tenths == 0 ? 0.0 : tenths,
                                 std::chars_format::fixed, 1);
    std::string text(buf.data(), r.ptr);
    if (text.ends_with(".0")) {
        text.resize(text.size() - 2);
    }
    return text;
}

std::string meterValue(int level, std::optional<double> peakDb, bool over) {
    std::string text = readingText(level) + " dB";
    if (peakDb) {
        text += ", peak " + dbText(*peakDb) + " dB";
    }
    if (over) {
        text += ", over";
    }
    return text;
}

std::string meterSentence(const std::string& side, int level, std::optional<double> peakDb,
                          bool over) {
    return side + " level " + meterValue(level, peakDb, over);
}

std::string isoLocalTime(int64_t wallMs) {
    // Floor division, so times before 1970 keep a positive millisecond part.
    int64_t seconds = wallMs / 1000;
    int64_t ms = wallMs % 1000;
    if (ms < 0) {
        ms += 1000;
        --seconds;
    }
    const LocalTime time = localTimeOf(static_cast<std::time_t>(seconds));
    const std::tm& local = time.fields;
    const long offsetMinutes = time.offsetSeconds / 60;
    const long absOffset = std::labs(offsetMinutes);
    std::array<char, 64> buf{};
    const int n =
        std::snprintf(buf.data(), buf.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec, static_cast<int>(ms),
                      offsetMinutes < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return std::string(buf.data(), static_cast<std::size_t>(std::clamp(n, 0, 63)));
}

std::string historyCsv(const LevelRing& ring) {
    std::string out = "time,left_db,right_db,over_left,over_right\n";
    out.reserve(out.size() + ring.size() * 48);
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const LevelSample& s = ring[i];
        out += isoLocalTime(s.wallMs);
        out += ',';
        out += readingText(s.left);
        out += ',';
        out += readingText(s.right);
        out += s.overLeft() ? ",1" : ",0";
        out += s.overRight() ? ",1\n" : ",0\n";
    }
    return out;
}

} // namespace qx::levels
