// SPDX-License-Identifier: GPL-3.0-or-later
// The demo program's second window: the hands that plug the virtual unit in and out, restart it
// and choose what it measures.
#pragma once

#include "unit/VirtualBench.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace qx {

class DemoControlWindow : public QWidget {
    Q_OBJECT
public:
    explicit DemoControlWindow(unit::VirtualBench& bench, QWidget* parent = nullptr);

    // Shows the unit's present state; run after every device change, since the unit also
    // restarts by itself (leaving its boot loader, after an update).
    void showState();
    QString stateText() const;

    QPushButton* plug = nullptr;
    QPushButton* bootRestart = nullptr;
    QPushButton* normalRestart = nullptr;
    QComboBox* pattern = nullptr;
    QCheckBox* silent = nullptr;
    QCheckBox* corrupt = nullptr;

private:
    void applyFaults();

    unit::VirtualBench& bench_;
    QLabel* state_ = nullptr;
};

} // namespace qx
