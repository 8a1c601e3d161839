// SPDX-License-Identifier: GPL-3.0-or-later
// The "Units" window: every unit's two meters side by side under its name, large enough to read
// across a room, with each unit's peak markers and over latches. Resizable; the meters grow with
// it.
#pragma once

#include "room/UnitRoom.h"

#include <QWidget>

#include <vector>

class QGridLayout;

namespace qx::units {

// One unit's tile: name, state word, two vertical bars with peak markers and over latches. A
// click on the tile, Space or Return clears its overs.
class UnitTile : public QWidget {
    Q_OBJECT
public:
    UnitTile(room::UnitRoom& room, int index, QWidget* parent = nullptr);
    int index() const { return index_; }
    void refresh();
    QSize sizeHint() const override { return {180, 260}; }
    QSize minimumSizeHint() const override { return {90, 130}; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    room::UnitRoom& room_;
    int index_;
};

class UnitsWindow : public QWidget {
    Q_OBJECT
public:
    explicit UnitsWindow(room::UnitRoom& room, QWidget* parent = nullptr);
    int tileCount() const { return static_cast<int>(tiles_.size()); }
    UnitTile* tile(int index) const { return tiles_.at(static_cast<std::size_t>(index)); }

private:
    void addTiles();
    void placeTiles();

    room::UnitRoom& room_;
    QGridLayout* grid_ = nullptr;
    std::vector<UnitTile*> tiles_;
};

} // namespace qx::units
