// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/JournalDialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace qx {

QString outcomeText(const state::JournalEntry& e, bool current) {
    switch (e.state) {
    case state::UpdateState::Running:
        return current ? QStringLiteral("under way")
                       : QStringLiteral("cut off after %1 of %2 blocks")
                             .arg(e.blocksDone)
                             .arg(e.blocksTotal);
    case state::UpdateState::Failed:
        return QStringLiteral("failed after %1 of %2 blocks: %3")
            .arg(e.blocksDone)
            .arg(e.blocksTotal)
            .arg(QString::fromStdString(e.message));
    case state::UpdateState::Unconfirmed:
        return QStringLiteral("sent, not confirmed by the unit");
    case state::UpdateState::Refused:
        return QStringLiteral("refused by the unit");
    case state::UpdateState::Completed:
        return QStringLiteral("completed");
    }
    return {};
}

JournalDialog::JournalDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Update history"));
    auto* layout = new QVBoxLayout(this);
    list = new QTreeWidget(this);
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("When"), QStringLiteral("Unit"), QStringLiteral("From"),
                           QStringLiteral("To"), QStringLiteral("Outcome")});
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(640, 260);
}

void JournalDialog::show(const std::vector<state::JournalEntry>& entries, std::uint64_t currentId) {
    list->clear();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const state::JournalEntry& e = *it;
        const QString when =
            QDateTime::fromSecsSinceEpoch(e.started).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        auto* item = new QTreeWidgetItem(
            list, {when, QString::fromStdString(e.serial), QString::fromStdString(e.unitVersion),
                   QString::fromStdString(e.packageVersion), outcomeText(e, e.id == currentId)});
        item->setToolTip(1, QString::fromStdString(e.unitName));
        item->setToolTip(3, QString::fromStdString(e.packagePath));
    }
    for (int c = 0; c < list->columnCount() - 1; ++c) {
        list->resizeColumnToContents(c);
    }
    open();
}

} // namespace qx
