// The "Diagnostics" window: the diagnostics report as text, to copy or save with a bug report.
#pragma once

#include "update/Dialogs.h"

#include <QDialog>

#include <functional>
#include <string>

class QPlainTextEdit;
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

    // Handlers.
    void copyClick();
    void saveClick();

    QPlainTextEdit* text = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* closeButton = nullptr;
    // Room for more actions (the traffic recorder's) under the report.
    QWidget* actions = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    std::function<std::string()> report_;
    Dialogs& dialogs_;
    QString saveName_;
};

} // namespace qx
