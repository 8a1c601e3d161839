// SPDX-License-Identifier: GPL-3.0-or-later
// The strip above the main window's panel that lists every unit (label or serial, state word,
// a small level pair with its over latch) and chooses the one the panel shows and drives. Shown
// only once more than one unit is or was connected in this run.
#pragma once

#include "room/UnitRoom.h"

#include <QRadioButton>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class QButtonGroup;
class QTimer;
class QVBoxLayout;

namespace qx::units {

// One unit's row: a radio button to a screen reader and the keyboard, drawn as a list row.
class UnitRow : public QRadioButton {
    Q_OBJECT
public:
    UnitRow(room::UnitRoom& room, int index, QWidget* parent = nullptr);
    int index() const { return index_; }
    // Reads the unit's name, state and latches again.
    void refresh();
    // A new answer: redraws when a bar or a latch would look different.
    void levelsChanged();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void clearOverRequested(int index);
    void labelRequested(int index);

protected:
    void paintEvent(QPaintEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    // The area of the button is the whole row.
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

private:
    // How many pixels of each small bar the levels fill; -1 without live levels.
    std::array<int, 2> barWidths() const;

    room::UnitRoom& room_;
    int index_;
    std::array<int, 2> paintedWidths_{-1, -1};
    std::array<bool, 2> paintedLatches_{};
};

class UnitChooser : public QWidget {
    Q_OBJECT
public:
    // `mayChoose` says whether the panel may move to another unit now.
    UnitChooser(room::UnitRoom& room, std::function<bool()> mayChoose, QWidget* parent = nullptr);

    int rowCount() const { return static_cast<int>(rows_.size()); }
    UnitRow* row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }
    // Makes unit `index` the one shown; false when it is refused now.
    bool choose(int index);
    // The next (or, with -1, the previous) unit after the shown one.
    void chooseNext(int step);

signals:
    // Whether the strip should be shown changed.
    void wanted(bool shown);
    // The operator asked to name a unit (its row's context menu).
    void labelRequested(int index);

private:
    void addRow(int index);
    void showChosen();

    room::UnitRoom& room_;
    std::function<bool()> mayChoose_;
    QVBoxLayout* layout_ = nullptr;
    QButtonGroup* group_ = nullptr;
    std::vector<UnitRow*> rows_;
    // A unit's state word changes with time alone (an answer that stops coming).
    QTimer* stateTimer_ = nullptr;
};

} // namespace qx::units
