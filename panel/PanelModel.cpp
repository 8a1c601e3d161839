// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/PanelModel.h"

#include <algorithm>
#include <cmath>

namespace qx::panel {

namespace {

// Down to -10 dB the meter steps by 2 dB, then by 1 dB to -6, then finer.
constexpr std::array<const char*, kLevelTexts> kLevelTable = {
    "-52",  "-50",  "-48", "-46",  "-44",  "-42", "-40",  "-38", "-36",  "-34", "-32", "-30", "-28",
    "-26",  "-24",  "-22", "-20",  "-18",  "-16", "-14",  "-12", "-10",  "-9",  "-8",  "-7",  "-6",
    "-5.4", "-4.7", "-4",  "-3.4", "-2.7", "-2",  "-1.5", "-1",  "-0.5", "0",   "0.5", "1",   "1.5",
    "2",    "2.7",  "3.4", "4",    "4.7",  "5.4", "6",    "6.7", "7.4",  "8"};

} // namespace

const char* levelTableText(int index) {
    return kLevelTable.at(static_cast<std::size_t>(index));
}

std::optional<std::string> levelLabel(int level) {
    const int index = std::max(0, level - kLowestLevel);
    if (index >= kLevelTexts) {
        return std::nullopt;
    }
    std::string text = kLevelTable[static_cast<std::size_t>(index)];
    if (text.size() < 3) {
        text.append(3 - text.size(), ' ');
    }
    return text;
}

int barWidth(int level) {
    // Floating point and the default round-to-nearest-even mode: level -24 gives 38, level 0 116.
    const double exact = (level + 36) / 48.0 * kBarPixels;
    return static_cast<int>(std::nearbyint(exact));
}

int shownBarWidth(int level) {
    return std::clamp(barWidth(level), 0, kBarPixels);
}

int8_t clampRecordGain(int8_t gain) {
    return static_cast<int8_t>(std::clamp<int>(gain, kRecordGainMin, kRecordGainMax));
}

THSColorStyle muteScheme(uint8_t muteOn) {
    // Twice the byte: 0 chrome, 1 red, 2 blue. Other bytes name no scheme; they show as off.
    return muteOn <= 2 ? static_cast<THSColorStyle>(2 * muteOn) : lcsChrome;
}

THSColorStyle dimScheme(uint8_t dimMode) {
    switch (dimMode) {
    case 1:
        return lcsGreen;
    case 2:
        return lcsGold;
    default:
        return lcsChrome;
    }
}

const char* dimCaption(uint8_t dimMode) {
    return dimMode == 2 ? "+20 dB" : "-20 dB";
}

ButtonSchemes schemesFor(const DeviceSettings& s) {
    ButtonSchemes b;
    for (std::size_t tag = 0; tag < b.presets.size(); ++tag) {
        b.presets[tag] = s.preset == tag ? lcsGreen : lcsChrome;
    }
    b.mute = muteScheme(s.muteOn);
    b.sum = s.monitorMode == 1 ? lcsGreen : lcsChrome;
    b.dif = s.monitorMode == 2 ? lcsGreen : lcsChrome;
    b.dim = dimScheme(s.dimMode);
    return b;
}

int centredStart(int outerStart, int outerSize, int innerSize) {
    // C++ integer division truncates toward zero, like the rule it reproduces.
    return outerStart + outerSize / 2 - innerSize / 2;
}

std::string withCfgExtension(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (hasDot && name.compare(dot, std::string::npos, ".cfg") == 0) {
        return name;
    }
    return name + ".cfg";
}

} // namespace qx::panel
