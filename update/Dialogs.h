// SPDX-License-Identifier: GPL-3.0-or-later
// The modal questions and messages the windows ask and show. Behind an interface so that tests
// can answer them without a person and without nested event loops.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace qx {

class Dialogs {
public:
    enum class Icon { None, Information, Question, Warning, Error };

    virtual ~Dialogs() = default;
    // A modal message box owned by `owner`; returns the button pressed (or Cancel/Escape when
    // closed otherwise).
    virtual QMessageBox::StandardButton message(QWidget* owner, Icon icon, const QString& caption,
                                                const QString& text,
                                                QMessageBox::StandardButtons buttons) = 0;
    // A message box with OK and one further action captioned `action`; true when the operator
    // chose the action. Answered through message() (its Open button) unless overridden.
    virtual bool offer(QWidget* owner, Icon icon, const QString& caption, const QString& text,
                       const QString& action);
    // File dialogs; an empty result means the operator cancelled. `filter` is a Qt name filter
    // such as "Config File (*.cfg)".
    virtual QString openFileName(QWidget* owner, const QString& initialName,
                                 const QString& filter) = 0;
    virtual QString saveFileName(QWidget* owner, const QString& initialName,
                                 const QString& filter) = 0;

    // The one question asked before the unit's settings go back to the factory's, from whichever
    // window: true when the operator chose OK.
    bool confirmDefaults(QWidget* owner);
};

// The real dialogs of the desktop.
class QtDialogs : public Dialogs {
public:
    QMessageBox::StandardButton message(QWidget* owner, Icon icon, const QString& caption,
                                        const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    bool offer(QWidget* owner, Icon icon, const QString& caption, const QString& text,
               const QString& action) override;
    QString openFileName(QWidget* owner, const QString& initialName,
                         const QString& filter) override;
    QString saveFileName(QWidget* owner, const QString& initialName,
                         const QString& filter) override;
};

} // namespace qx
