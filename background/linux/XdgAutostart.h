// SPDX-License-Identifier: GPL-3.0-or-later
// The autostart entry as the XDG rules have it.
#pragma once

#include "background/Autostart.h"

namespace qx::background {

// $XDG_CONFIG_HOME/autostart (an XDG_CONFIG_HOME that is not absolute is ignored, as the XDG
// rules say), else $HOME/.config/autostart. Empty when neither can be had.
QString autostartFolder();

// The text of the entry: the program started with --hidden, quoted as desktop entries require.
QString autostartText(const AutostartEntry& entry);

} // namespace qx::background
