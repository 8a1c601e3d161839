// SPDX-License-Identifier: GPL-3.0-or-later
// Centring a top-level window on its screen with its frame, which the desktop adds only after
// the window is shown: the window is placed by its client size at first and placed again, frame
// included, as soon as its frame is known.
#pragma once

class QWidget;

namespace qx::panel {

void centreOnScreen(QWidget& window);

} // namespace qx::panel
