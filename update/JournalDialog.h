// SPDX-License-Identifier: GPL-3.0-or-later
// The list of the last updates: when, which unit, from and to which version, and how each ended.
#pragma once

#include "state/UpdateJournal.h"

#include <QDialog>

#include <vector>

class QTreeWidget;

namespace qx {

// How an entry ended, in the operator's words. `current` marks the entry of a run under way.
QString outcomeText(const state::JournalEntry& entry, bool current = false);

class JournalDialog : public QDialog {
    Q_OBJECT
public:
    explicit JournalDialog(QWidget* parent = nullptr);
    // Newest first.
    void show(const std::vector<state::JournalEntry>& entries, std::uint64_t currentId = 0);

    QTreeWidget* list = nullptr;
};

} // namespace qx
