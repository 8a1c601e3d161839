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

// The serial number of the demo's virtual unit `index`: QX7700000042, QX7700000043, ...
QString demoSerial(int index);

class DemoControlWindow : public QWidget {
    Q_OBJECT
public:
    explicit DemoControlWindow(unit::VirtualBench& bench, QWidget* parent = nullptr);

    // Shows the unit's present state; run after every device change, since the unit also
    // restarts by itself (leaving its boot loader, after an update).
    void showState();
    QString stateText() const;

    QComboBox* unitChoice = nullptr;
    QPushButton* addUnit = nullptr;
    QPushButton* plug = nullptr;
    QPushButton* bootRestart = nullptr;
    QPushButton* normalRestart = nullptr;
    QComboBox* pattern = nullptr;
    QCheckBox* silent = nullptr;
    QCheckBox* corrupt = nullptr;

private:
    void applyFaults();
    void listUnits();

    unit::VirtualBench& bench_;
    QLabel* state_ = nullptr;
    int current_ = 0;
};

} // namespace qx
