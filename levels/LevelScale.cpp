// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/LevelScale.h"

#include "panel/PanelModel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace qx::levels {

namespace {

// The readings parsed once, independent of the process locale.
std::array<double, panel::kLevelTexts> parseTable() {
    std::array<double, panel::kLevelTexts> db{};
    for (int i = 0; i < panel::kLevelTexts; ++i) {
        const char* text = panel::levelTableText(i);
        std::from_chars(text, text + std::strlen(text), db[static_cast<std::size_t>(i)]);
    }
    return db;
}

const std::array<double, panel::kLevelTexts>& table() {
    static const std::array<double, panel::kLevelTexts> db = parseTable();
    return db;
}

} // namespace

std::optional<double> levelDb(int level) {
    if (level > panel::kHighestLevel) {
        return std::nullopt;
    }
    const int index = std::max(0, level - panel::kLowestLevel);
    return table()[static_cast<std::size_t>(index)];
}

double levelForDb(double db) {
    const auto& t = table();
    if (db <= t.front()) {
        return panel::kLowestLevel;
    }
    if (db >= t.back()) {
        return panel::kHighestLevel;
    }
    // First reading above db; the readings rise strictly.
    const auto above = std::upper_bound(t.begin(), t.end(), db);
    const auto i = static_cast<int>(above - t.begin());
    const double lo = t[static_cast<std::size_t>(i - 1)];
    const double hi = t[static_cast<std::size_t>(i)];
    return panel::kLowestLevel + (i - 1) + (db - lo) / (hi - lo);
}

double barPosition(double level) {
    return (level + 36) / 48.0 * panel::kBarPixels;
}

} // namespace qx::levels
