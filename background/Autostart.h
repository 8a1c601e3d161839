// SPDX-License-Identifier: GPL-3.0-or-later
// "Start at login": the desktop's autostart entry for the window program, which starts it with
// its window hidden. On Linux a desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart), written whole or not at all; on
// Windows a value under the user's "Run" key. Removed to turn the start off. Qt Core only.
#pragma once

#include <QString>

namespace qx::background {

struct AutostartEntry {
    // The entry's file name: the real program's matches its desktop file, the demo's is its own
    // so that the two never replace each other's.
    QString fileName;
    QString name;    // shown by the desktop's list of programs started at login
    QString program; // the program to start, an absolute path
};

// The entry of this program: `demo` names the demo's; `program` is the running binary.
AutostartEntry autostartEntry(bool demo, const QString& program);

// Where the entry is kept (a file, or a registry value), for messages; empty when nowhere.
QString autostartPath(const AutostartEntry& entry);

// Whether the entry is there and not switched off by the desktop (on Linux Hidden=true, or
// X-GNOME-Autostart-enabled=false, which the desktops' own settings write).
bool autostartEnabled(const AutostartEntry& entry);

// Writes the entry (replacing any), or removes it. Returns why it failed, empty on success.
QString enableAutostart(const AutostartEntry& entry);
QString disableAutostart(const AutostartEntry& entry);

} // namespace qx::background
