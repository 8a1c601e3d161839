// SPDX-License-Identifier: GPL-3.0-or-later
// What the program keeps between runs, brought to its windows: the update journal and the
// settings each unit last confirmed are read from the state folder at start; an unfinished
// update of a unit found in its boot loader opens the update window with its offer; the settings
// an update reset are offered back in the main window.
#pragma once

#include "link/LinkState.h"
#include "panel/SettingsRestore.h"
#include "state/SettingsMemory.h"
#include "state/UpdateJournal.h"
#include "update/Dialogs.h"

#include <QStringList>

namespace qx {

class Tfmain;
class Tfu;

class ProgramState {
public:
    // The demo keeps its own folder, so that its virtual unit never mixes with real ones.
    ProgramState(bool demo, LinkState& link, Tfmain& mainWindow, Tfu& updateWindow,
                 Dialogs& dialogs);
    ProgramState(const ProgramState&) = delete;
    ProgramState& operator=(const ProgramState&) = delete;

    // The journal qx77zt's transfers through this program are written to as well.
    state::UpdateJournal& journal() { return journal_; }
    // The offer of settings an update reset, made for the unit the window shows.
    SettingsRestore& restore() { return restore_; }
    // The program's state folder; empty when there is none.
    std::filesystem::path folder() const { return journal_.file().parent_path(); }

private:
    state::UpdateJournal journal_;
    state::SettingsMemory memory_;
    SettingsRestore restore_;
};

} // namespace qx
