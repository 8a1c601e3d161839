// SPDX-License-Identifier: GPL-3.0-or-later
// The speed button's helpers in one include: colour values and routines, the colour schemes,
// the fade timer and the painting routines.
#ifndef QX_CONTROLS_HSBUTTONS_H
#define QX_CONTROLS_HSBUTTONS_H

#include "HSButtonTimer.h"
#include "HSColors.h"
#include "HSPaint.h"
#include "HSPixels.h"
#include "HSTypes.h"

#endif
