// SPDX-License-Identifier: GPL-3.0-or-later
// A later copy's activation token, used by the first copy when it brings its window forward: a
// Wayland compositor raises a window only for a token that stands for a recent user action, and
// the one the desktop gave for the later start is such a token.
#pragma once

#include <QLoggingCategory>
#include <QString>

namespace qx::background {

// "qx.background": what the program does in the background (debug: the tokens it is given).
Q_DECLARE_LOGGING_CATEGORY(lcBackground)

// Hands the token to the platform for the next activation of a window: Qt's Wayland plugin
// takes XDG_ACTIVATION_TOKEN from the environment when a window asks to be activated (and
// clears it). Call just before bringing the window forward. X11's startup identifier is only
// noted: Qt reads it once, at start.
void useActivationToken(const QString& activationToken, const QString& startupId);

} // namespace qx::background
