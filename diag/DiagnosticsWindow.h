// SPDX-License-Identifier: GPL-3.0-or-later
// The "Diagnostics" window: the diagnostics report as text, to copy or save with a bug report.
#pragma once

#include "diag/TrafficRecorder.h"
#include "update/Dialogs.h"

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QPlainTextEdit;
class QTimer;
class QPushButton;

namespace qx {

class DiagnosticsWindow : public QDialog {
    Q_OBJECT
public:
    // `report` makes the report afresh; it runs whenever the window is shown and on "Refresh".
    DiagnosticsWindow(std::function<std::string()> report, Dialogs& dialogs,
                      QWidget* parent = nullptr);

    // Makes the report again and shows it.
    void refreshReport();
    QString reportText() const;

    // Offers the traffic recorder in the window: "Start recording…" and "Stop recording", and a
    // line that says how the recording goes. `header` names the program and unit at the start.
    void attachRecorder(TrafficRecorder& recorder, std::function<RecordingHeader()> header);

    // Handlers.
    void copyClick();
    void saveClick();
    void recordClick();
    // Shows the recorder's state on the button and the line.
    void showRecorderState();

    QPlainTextEdit* text = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* closeButton = nullptr;
    // Room for more actions (the traffic recorder's) under the report.
    QWidget* actions = nullptr;
    QPushButton* recordButton = nullptr;
    QLabel* recordState = nullptr;

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    std::function<std::string()> report_;
    Dialogs& dialogs_;
    QString saveName_;
    QString recordName_;
    TrafficRecorder* recorder_ = nullptr;
    std::function<RecordingHeader()> header_;
    QTimer* recorderTimer_ = nullptr;
};

} // namespace qx
