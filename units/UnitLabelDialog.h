// SPDX-License-Identifier: GPL-3.0-or-later
// "Label": the operator's name for one unit, and optionally a settings file written to it
// whenever it connects in normal mode (so that a unit swapped into a rack position gets that
// position's settings).
#pragma once

#include "room/UnitRoom.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qx::units {

class UnitLabelDialog : public QDialog {
    Q_OBJECT
public:
    UnitLabelDialog(room::UnitRoom& room, int index, QWidget* parent = nullptr);

    QLineEdit* label = nullptr;
    QLineEdit* profile = nullptr;
    QPushButton* browse = nullptr;
    QCheckBox* apply = nullptr;
    // Why the last try to keep the label failed; empty when none did.
    QString problem() const;

    void accept() override;

private:
    room::UnitRoom& room_;
    int index_;
    QLabel* problem_ = nullptr;
};

} // namespace qx::units
