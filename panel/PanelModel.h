// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window shows for a pair of unit records, as plain values: the level readings,
// the bar widths, the buttons' colour schemes and the window placement rule. No widgets here, so
// all of it is tested without a screen.
#pragma once

#include "controls/HSTypes.h"
#include "link/DeviceRecords.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qx::panel {

// Levels with a reading: -35 ("-52") to 13 ("8"); anything lower reads like -35.
inline constexpr int kLowestLevel = -35;
inline constexpr int kHighestLevel = 13;
inline constexpr int kLevelTexts = kHighestLevel - kLowestLevel + 1;
// Width of the bar picture; level 12 fills it.
inline constexpr int kBarPixels = 154;

// The gain limits the display accepts in the record, and those of the gain editors.
inline constexpr int kRecordGainMin = -32;
inline constexpr int kRecordGainMax = 32;
inline constexpr int kEditorGainMin = -32;
inline constexpr int kEditorGainMax = 16;

// The reading of one of the 49 table entries, unpadded; index 0 is level -35.
const char* levelTableText(int index);

// The label text of a level: the table text left-justified to three characters. Empty when
// the level is above the table (the display stops there).
std::optional<std::string> levelLabel(int level);

// (level + 36) / 48 of the bar, rounded half to even; may be negative or wider than the bar.
int barWidth(int level);
// The width of the box the bar is shown in: barWidth clipped to 0..kBarPixels.
int shownBarWidth(int level);

int8_t clampRecordGain(int8_t gain);

struct ButtonSchemes {
    std::array<THSColorStyle, 4> presets{lcsChrome, lcsChrome, lcsChrome, lcsChrome};
    THSColorStyle mute = lcsChrome;
    THSColorStyle sum = lcsChrome;
    THSColorStyle dif = lcsChrome;
    THSColorStyle dim = lcsChrome;

    friend bool operator==(const ButtonSchemes&, const ButtonSchemes&) = default;
};

THSColorStyle muteScheme(uint8_t muteOn);
THSColorStyle dimScheme(uint8_t dimMode);
// The dim button's caption for the unit's dim byte: "+20 dB" for 2, "-20 dB" otherwise (the
// button's left-click value, which 0 and 1 toggle between).
const char* dimCaption(uint8_t dimMode);
ButtonSchemes schemesFor(const DeviceSettings& s);

// Start coordinate that centres `innerSize` over `outerSize` starting at `outerStart`, with
// halves rounded toward zero as the desktop's own placement does.
int centredStart(int outerStart, int outerSize, int innerSize);

// The settings file name actually used: ".cfg" is appended unless the name already ends in
// exactly ".cfg" (case-sensitive) after the last path separator.
std::string withCfgExtension(const std::string& name);

} // namespace qx::panel
