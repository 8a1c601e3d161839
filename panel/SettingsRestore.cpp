// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/SettingsRestore.h"

namespace qx {

namespace {
const QString kCaption = QStringLiteral("QX-77ZT");
constexpr std::chrono::milliseconds kConfirmWait{3000};
} // namespace

SettingsRestore::SettingsRestore(LinkState& link, state::SettingsMemory& memory,
                                 state::UpdateJournal* journal, Dialogs& dialogs, QWidget* owner,
                                 std::function<std::string()> serial)
    : link_(&link), memory_(memory), journal_(journal), dialogs_(dialogs), owner_(owner),
      serial_(std::move(serial)) {
    confirmTimer_.setSingleShot(true);
    confirmTimer_.setInterval(kConfirmWait);
    connect(&confirmTimer_, &QTimer::timeout, this, [this] { notRestored(); });
}

bool SettingsRestore::setLink(LinkState& link) {
    if (phase_ != Phase::Watching && link_ != &link) {
        return false;
    }
    link_ = &link;
    return true;
}

void SettingsRestore::answerStored() {
    // Only what the unit itself reported in normal mode counts: an edit not yet acknowledged
    // is the operator's, not the unit's.
    if (phase_ == Phase::Asking || !link_->connected || link_->bootMode || !link_->writeAcked()) {
        return;
    }
    const std::string serial = serial_();
    if (serial.empty()) {
        return;
    }
    const DeviceSettings now = link_->settings();
    if (phase_ == Phase::Restoring) {
        if (serial == restoringSerial_ && now == snapshot_) {
            restored();
        }
        return;
    }
    if (journal_ != nullptr) {
        const auto entry = journal_->latestFor(serial);
        if (entry && entry->state == state::UpdateState::Completed && !entry->settingsSettled &&
            entry->snapshot) {
            if (now != *entry->snapshot) {
                offer(*entry);
                return;
            }
            settle(entry->id); // the update kept them
        }
    }
    const std::string error = memory_.remember(serial, now);
    if (!error.empty() && !memoryTroubleShown_) {
        memoryTroubleShown_ = true; // once a run: the answers keep coming
        dialogs_.message(owner_, Dialogs::Icon::Warning, kCaption,
                         QStringLiteral("The unit's settings cannot be remembered for a later "
                                        "update: %1.")
                             .arg(QString::fromStdString(error)),
                         QMessageBox::Ok);
    }
}

void SettingsRestore::offer(const state::JournalEntry& entry) {
    phase_ = Phase::Asking;
    // Asked once, whatever the answer.
    settle(entry.id);
    const auto answer = dialogs_.message(
        owner_, Dialogs::Icon::Question, kCaption,
        QStringLiteral("The firmware update changed the settings of %1. Restore the settings it "
                       "had before the update?")
            .arg(unitNamed()),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes || !link_->connected || link_->bootMode) {
        phase_ = Phase::Watching;
        return;
    }
    phase_ = Phase::Restoring;
    restoringSerial_ = entry.serial;
    snapshot_ = *entry.snapshot;
    link_->save([this](DeviceSettings& s) { s = snapshot_; }, ChangeOrigin::Restore);
    confirmTimer_.start();
}

QString SettingsRestore::unitNamed(bool first) const {
    const QString name = unitName_ ? QString::fromStdString(unitName_()) : QString();
    if (name.isEmpty()) {
        return first ? QStringLiteral("The unit") : QStringLiteral("this unit");
    }
    return (first ? QStringLiteral("Unit ") : QStringLiteral("unit ")) + name;
}

void SettingsRestore::settle(std::uint64_t id) {
    if (journal_ != nullptr) {
        journal_->change(id, [](state::JournalEntry& e) { e.settingsSettled = true; });
    }
}

void SettingsRestore::restored() {
    confirmTimer_.stop();
    phase_ = Phase::Watching;
    memory_.remember(restoringSerial_, snapshot_);
    dialogs_.message(
        owner_, Dialogs::Icon::Information, kCaption,
        QStringLiteral("%1 has its settings from before the update again.").arg(unitNamed(true)),
        QMessageBox::Ok);
}

void SettingsRestore::notRestored() {
    if (phase_ != Phase::Restoring) {
        return;
    }
    phase_ = Phase::Watching;
    dialogs_.message(owner_, Dialogs::Icon::Warning, kCaption,
                     QStringLiteral("The settings from before the update were sent, but the "
                                    "unit's answers do not show them: they are not restored."),
                     QMessageBox::Ok);
}

} // namespace qx
