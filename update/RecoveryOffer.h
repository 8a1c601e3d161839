// SPDX-License-Identifier: GPL-3.0-or-later
// The update window's offer to run an unfinished update of the connected unit again: what was
// being written, how far it got, and one button.
#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace qx {

class RecoveryOffer : public QFrame {
    Q_OBJECT
public:
    static constexpr int kWidth = 127;

    explicit RecoveryOffer(QWidget* parent);
    // Shows `text` and sizes the offer to it.
    void offer(const QString& text);

    QLabel* text = nullptr;
    QPushButton* run = nullptr;
};

} // namespace qx
