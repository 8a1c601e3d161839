// SPDX-License-Identifier: GPL-3.0-or-later
// The font the main window is laid out for, where the machine has it.
#pragma once

#include <QFont>
#include <QList>
#include <QString>

namespace qx::panel {

inline constexpr const char* kDesignFamily = "Tahoma";

// Debian's fonts-wine puts a Tahoma with the design's metrics here, outside the folders the
// desktop's font configuration reads.
QString designFontFolder();

// Adds the design font's regular and bold files from `folder` to the application's fonts unless
// the family is known already; needs the application object. Returns the ids of the files added
// (none when the family was known or the files are missing), for removing them again.
QList<int> loadDesignFont(const QString& folder = designFontFolder());

// The window's bold font at `pixels`: the design font where available, else the closest narrow
// sans-serif.
QFont windowFont(int pixels);

} // namespace qx::panel
