// SPDX-License-Identifier: GPL-3.0-or-later
// The "Level history" window: the plot of the last ten minutes of both meters, live, with
// zoom and scroll in time, and export of the readings as CSV and of the plot as PNG.
#pragma once

#include "levels/HistoryPlot.h"

#include <QWidget>

#include <functional>

class QPushButton;
class QScrollBar;
class QTimer;

namespace qx {
class Dialogs;
}

namespace qx::levels {

class LevelHistoryWindow : public QWidget {
    Q_OBJECT
public:
    LevelHistoryWindow(LevelMeters& meters, Dialogs& dialogs, QWidget* parent = nullptr);

    // Ask for a file name and write the readings or the plot there; false when cancelled or
    // failed (a failure is shown to the operator).
    bool exportCsv();
    bool exportPng();

    // Names the unit the readings come from, for the exported picture; none when unset.
    std::function<QString()> unitName;

    HistoryPlot* plot = nullptr;
    QScrollBar* scroll = nullptr;
    QPushButton* zoomInButton = nullptr;
    QPushButton* zoomOutButton = nullptr;
    QPushButton* liveButton = nullptr;
    QPushButton* csvButton = nullptr;
    QPushButton* pngButton = nullptr;
    QPushButton* closeButton = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    // The scroll bar counts tenths of a second from the earliest right edge the view can have.
    int64_t earliestEndMs() const;
    void syncScroll();
    void scrolled(int value);
    QString askFileName(const QString& initialName, const QString& filter, const QString& suffix);
    bool writeFile(const QString& name, const QByteArray& bytes);

    Dialogs& dialogs_;
    QTimer* tick_ = nullptr;
};

} // namespace qx::levels
