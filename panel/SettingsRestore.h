// SPDX-License-Identifier: GPL-3.0-or-later
// Remembers the settings each unit confirms, and offers them back when a completed firmware
// update has reset them.
//
// Runs on the user interface thread, after each answer the unit's records took. The offer is a
// question in the main window; the restore is an ordinary settings write, and counts as done
// only once the unit's answers carry the remembered bytes.
#pragma once

#include "link/LinkState.h"
#include "state/SettingsMemory.h"
#include "state/UpdateJournal.h"
#include "update/Dialogs.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>

class QWidget;

namespace qx {

class SettingsRestore : public QObject {
    Q_OBJECT
public:
    // `serial` gives the connected unit's serial number. `journal` may be null.
    SettingsRestore(LinkState& link, state::SettingsMemory& memory, state::UpdateJournal* journal,
                    Dialogs& dialogs, QWidget* owner, std::function<std::string()> serial);

    // Watches the unit of `link` from now on; refused (false) while an offer or a restore of
    // the unit watched so far is under way.
    bool setLink(LinkState& link);
    bool busy() const { return phase_ != Phase::Watching; }
    // How the offer names the unit among several; empty (or unset): "this unit".
    void setUnitName(std::function<std::string()> name) { unitName_ = std::move(name); }

    // After every answer stored in the records.
    void answerStored();
    // How long the unit has to show the restored settings in its answers.
    void setConfirmWait(std::chrono::milliseconds wait) { confirmTimer_.setInterval(wait); }
    bool restoring() const { return phase_ == Phase::Restoring; }

private:
    enum class Phase { Watching, Asking, Restoring };

    void offer(const state::JournalEntry& entry);
    void settle(std::uint64_t id);
    void restored();
    void notRestored();
    // "this unit" or "unit NAME"; capitalised for the start of a sentence when `first`.
    QString unitNamed(bool first = false) const;

    LinkState* link_; // never null
    state::SettingsMemory& memory_;
    state::UpdateJournal* journal_;
    Dialogs& dialogs_;
    QWidget* owner_;
    std::function<std::string()> serial_;
    std::function<std::string()> unitName_;
    Phase phase_ = Phase::Watching;
    std::string restoringSerial_;
    DeviceSettings snapshot_;
    QTimer confirmTimer_;
    bool memoryTroubleShown_ = false;
};

} // namespace qx
