// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader is told about the main window's controls: a name for each (the captions
// alone, "1" or "10%", say little out of their panel); the presets as one group of exclusive
// choices; for the other speed buttons, which show a setting only by their colour, whether that
// setting is on, and for the dim button which level it dims to; the source lists by what they
// choose, with their value as the value.
#pragma once

#include <cstdint>

class QString;
class THSSpeedButton;

namespace qx {

class Tfmain;

// Makes the interfaces described above; once per process, before the window's controls exist.
void installMainWindowAccessibility();
void nameMainWindowControls(Tfmain& w);

// The dim button's name for the unit's dim mode (1 -20 dB, 2 +20 dB, anything else off).
QString dimButtonName(uint8_t dimMode);
// Names the dim button after the unit's dim mode; a reader hears the change.
void nameDimButton(THSSpeedButton& dim, uint8_t dimMode);

} // namespace qx
