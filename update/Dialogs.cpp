// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/Dialogs.h"

#include <QFileDialog>
#include <QPushButton>

namespace qx {

namespace {

QMessageBox::Icon qtIcon(Dialogs::Icon icon) {
    switch (icon) {
    case Dialogs::Icon::Information:
        return QMessageBox::Information;
    case Dialogs::Icon::Question:
        return QMessageBox::Question;
    case Dialogs::Icon::Warning:
        return QMessageBox::Warning;
    case Dialogs::Icon::Error:
        return QMessageBox::Critical;
    case Dialogs::Icon::None:
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

QMessageBox::StandardButton QtDialogs::message(QWidget* owner, Icon icon, const QString& caption,
                                               const QString& text,
                                               QMessageBox::StandardButtons buttons) {
    QMessageBox box(qtIcon(icon), caption, text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool Dialogs::offer(QWidget* owner, Icon icon, const QString& caption, const QString& text,
                    const QString& /*action*/) {
    return message(owner, icon, caption, text, QMessageBox::Ok | QMessageBox::Open) ==
           QMessageBox::Open;
}

bool Dialogs::confirmDefaults(QWidget* owner) {
    return message(owner, Icon::Question, QStringLiteral("Confirm"),
                   QStringLiteral("Set default values?"),
                   QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

bool QtDialogs::offer(QWidget* owner, Icon icon, const QString& caption, const QString& text,
                      const QString& action) {
    QMessageBox box(qtIcon(icon), caption, text, QMessageBox::Ok, owner);
    QPushButton* chosen = box.addButton(action, QMessageBox::ActionRole);
    box.exec();
    return box.clickedButton() == chosen;
}

QString QtDialogs::openFileName(QWidget* owner, const QString& initialName, const QString& filter) {
    return QFileDialog::getOpenFileName(owner, QString(), initialName, filter);
}

QString QtDialogs::saveFileName(QWidget* owner, const QString& initialName, const QString& filter) {
    // The operator is not asked before an existing file is replaced.
    return QFileDialog::getSaveFileName(owner, QString(), initialName, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

} // namespace qx
