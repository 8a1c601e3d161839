// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware update window: the connected unit's identity, the update run, reset to defaults
// and leaving update mode.
//
// This header is the contract the main window and the device connection rely on; the window's
// own handlers live in its implementation files.
#pragma once

#include "link/LinkState.h"
#include "link/Transport.h"
#include "update/Dialogs.h"

#include <QDialog>

#include <chrono>

class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace qx {

namespace state {
class SettingsMemory;
class UpdateJournal;
} // namespace state

class RecoveryOffer;

class Tfu : public QDialog, public AnswerSink {
    Q_OBJECT
public:
    Tfu(LinkState& link, Dialogs& dialogs, QWidget* parent = nullptr);
    ~Tfu() override;

    // Acts on the unit of `link` from now on (one of several units); refused (false) while the
    // window is busy, since what runs belongs to the unit it started on.
    bool showLink(LinkState& link);
    LinkState& shownLink() const;
    // The unit's name after the window's caption; empty: the caption alone.
    void setUnitName(const QString& name);

    // Written by the device connection, on the user interface thread.
    void setDeviceFields(const QString& name, const QString& serial, const QString& version);
    // Enabled for a unit in its boot loader, which is then also offered an unfinished update of
    // its own from the journal.
    void setUpdateButtonsEnabled(bool enabled);
    // Where transfers are journalled and where the unit's settings before an update come from;
    // either may be null. Set before the first run.
    void setStateStore(state::UpdateJournal* journal, state::SettingsMemory* memory);
    QString deviceName() const;
    QString deviceSerial() const;
    QString deviceVersion() const;

    // AnswerSink: called on the library's reader thread; handed to the user interface thread.
    // The window must outlive the receiver that calls these.
    void finishAnswer(bool success) override;
    void resetAnswer() override;

    // An update run, or the wait for a reset request to be taken, is under way: no other action
    // of the window starts meanwhile.
    bool busy() const;
    // An update run is under way, or its wait for the unit's verdict: the window cannot be
    // closed.
    bool transferring() const;
    // How long a run waits for the unit's verdict after its finish request.
    void setVerdictWait(std::chrono::milliseconds wait);

    // Where the open dialog of "Select file" starts: a folder, or a package it offers. Empty:
    // where the dialog itself starts.
    void setPackageStart(const QString& path);
    // How the operator puts the unit into its boot loader, for the hint below.
    void setBootLoaderHow(const QString& how);
    // While no unit in its boot loader has been found, "Select file" is greyed and this says
    // why and what to do (its tooltip too); empty once the button can be used.
    QString selectHint() const;

    // The Escape key and the desktop's close request act as "Close": the leave-update request
    // goes out once and the window closes when it has been sent. Refused while the window is
    // busy.
    void done(int result) override;

    // Components, named as in the window's design (tests drive them).
    QPushButton* cancel = nullptr;
    QLineEdit* dev_name = nullptr;
    QLineEdit* dev_serial = nullptr;
    QLineEdit* dev_version = nullptr;
    QProgressBar* pb = nullptr;
    QPushButton* select = nullptr;
    QPushButton* def = nullptr;
    QPushButton* hist = nullptr;    // the list of the last updates
    RecoveryOffer* offer = nullptr; // shown while the unit has an unfinished update
    QTimer* tmrb = nullptr;

Q_SIGNALS:
    // The connected unit has an unfinished update in the journal; raised once for each entry.
    void recoveryOffered();
    // Raised on any thread when news for the window is queued; taken on the window's thread.
    void newsArrived(QPrivateSignal);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class Private;
    Private* d;
};

} // namespace qx
