// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop settings of the window program: whether it keeps watching when its window is
// closed. Kept in $XDG_CONFIG_HOME/qx77zt/desktop.conf (the demo's in qx77zt-demo/), beside the
// alarm settings, written whole on each change. Qt Core only.
#pragma once

#include <QString>

namespace qx::background {

// $XDG_CONFIG_HOME/<folder>/desktop.conf, else ~/.config/<folder>/desktop.conf; empty when
// neither can be had.
QString desktopSettingsPath(bool demo);

class DesktopSettings {
public:
    // `path` empty: nothing is kept (every setting at its default).
    explicit DesktopSettings(QString path);

    // Reads the file; a missing one leaves the defaults. Returns why it could not be used, empty
    // when it was (or was missing); the defaults stay then.
    QString load();
    // Writes the file. Returns why it failed, empty on success.
    QString save() const;

    bool keepWatching = false;

    const QString& path() const { return path_; }

private:
    QString path_;
};

} // namespace qx::background
