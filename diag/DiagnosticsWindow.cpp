// SPDX-License-Identifier: GPL-3.0-or-later
#include "diag/DiagnosticsWindow.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>

namespace qx {

DiagnosticsWindow::DiagnosticsWindow(std::function<std::string()> report, Dialogs& dialogs,
                                     QWidget* parent)
    : QDialog(parent), report_(std::move(report)), dialogs_(dialogs),
      saveName_(QStringLiteral("qx77zt-diagnostics.txt")),
      recordName_(QStringLiteral("qx77zt-traffic.txt")) {
    setObjectName(QStringLiteral("DiagnosticsWindow"));
    setWindowTitle(QStringLiteral("Diagnostics"));

    text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("text"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    actions = new QWidget(this);
    actions->setObjectName(QStringLiteral("actions"));
    auto* actionRow = new QHBoxLayout(actions);
    actionRow->setContentsMargins(0, 0, 0, 0);

    refreshButton = new QPushButton(QStringLiteral("&Refresh"), this);
    copyButton = new QPushButton(QStringLiteral("&Copy"), this);
    saveButton = new QPushButton(QStringLiteral("&Save report…"), this);
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    copyButton->setObjectName(QStringLiteral("copyButton"));
    saveButton->setObjectName(QStringLiteral("saveButton"));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    connect(refreshButton, &QPushButton::clicked, this, &DiagnosticsWindow::refreshReport);
    connect(copyButton, &QPushButton::clicked, this, &DiagnosticsWindow::copyClick);
    connect(saveButton, &QPushButton::clicked, this, &DiagnosticsWindow::saveClick);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(refreshButton);
    buttons->addStretch(1);
    buttons->addWidget(copyButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text, 1);
    layout->addWidget(actions);
    layout->addLayout(buttons);
    resize(640, 560);
}

void DiagnosticsWindow::showEvent(QShowEvent* e) {
    refreshReport();
    if (recorderTimer_ != nullptr) {
        recorderTimer_->start();
        showRecorderState();
    }
    QDialog::showEvent(e);
}

void DiagnosticsWindow::hideEvent(QHideEvent* e) {
    // Nobody sees the line while the window is closed; showing it again brings it up to date.
    if (recorderTimer_ != nullptr) {
        recorderTimer_->stop();
    }
    QDialog::hideEvent(e);
}

void DiagnosticsWindow::refreshReport() {
    text->setPlainText(QString::fromStdString(report_()));
}

QString DiagnosticsWindow::reportText() const {
    return text->toPlainText();
}

void DiagnosticsWindow::copyClick() {
    QGuiApplication::clipboard()->setText(reportText());
}

void DiagnosticsWindow::saveClick() {
    const QString name =
        dialogs_.saveFileName(this, saveName_, QStringLiteral("Text file (*.txt)"));
    if (name.isEmpty()) {
        return;
    }
    saveName_ = name;
    // Written beside and renamed over, so a failed save never leaves half a report.
    QSaveFile file(name);
    const QByteArray bytes = reportText().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        dialogs_.message(
            this, Dialogs::Icon::Error, QStringLiteral("Diagnostics"),
            QStringLiteral("Cannot save the report to %1: %2").arg(name, file.errorString()),
            QMessageBox::Ok);
    }
}

void DiagnosticsWindow::attachRecorder(TrafficRecorder& recorder,
                                       std::function<RecordingHeader()> header) {
    recorder_ = &recorder;
    header_ = std::move(header);
    recordButton = new QPushButton(actions);
    recordButton->setObjectName(QStringLiteral("recordButton"));
    recordState = new QLabel(actions);
    recordState->setObjectName(QStringLiteral("recordState"));
    recordState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* row = static_cast<QHBoxLayout*>(actions->layout());
    row->addWidget(recordButton);
    row->addWidget(recordState, 1);
    connect(recordButton, &QPushButton::clicked, this, &DiagnosticsWindow::recordClick);
    // The recorder stops by itself at its bound; the line follows it while the window is open.
    recorderTimer_ = new QTimer(this);
    recorderTimer_->setObjectName(QStringLiteral("recorderTimer"));
    recorderTimer_->setInterval(250);
    connect(recorderTimer_, &QTimer::timeout, this, &DiagnosticsWindow::showRecorderState);
    if (isVisible()) {
        recorderTimer_->start();
    }
    showRecorderState();
}

void DiagnosticsWindow::recordClick() {
    if (recorder_ == nullptr) {
        return;
    }
    if (recorder_->state().recording) {
        recorder_->stop();
        showRecorderState();
        return;
    }
    const QString name =
        dialogs_.saveFileName(this, recordName_, QStringLiteral("Traffic recording (*.txt)"));
    if (name.isEmpty()) {
        return;
    }
    recordName_ = name;
    const std::string error =
        recorder_->start(name.toStdString(), header_ ? header_() : RecordingHeader{});
    if (!error.empty()) {
        dialogs_.message(
            this, Dialogs::Icon::Error, QStringLiteral("Diagnostics"),
            QStringLiteral("Cannot start recording: %1").arg(QString::fromStdString(error)),
            QMessageBox::Ok);
    }
    showRecorderState();
}

void DiagnosticsWindow::showRecorderState() {
    if (recorder_ == nullptr) {
        return;
    }
    const TrafficRecorder::State s = recorder_->state();
    const QString file = QString::fromStdString(s.path);
    recordButton->setText(s.recording ? QStringLiteral("Stop recording")
                                      : QStringLiteral("Start recording…"));
    // Reports the file was too slow to take leave gaps, which whoever reads it must know.
    const QString dropped =
        s.dropped == 0
            ? QString()
            : QStringLiteral(" (%1 reports dropped: the file took them too slowly)").arg(s.dropped);
    if (s.recording) {
        recordState->setText(QStringLiteral("Recording: %1 reports, %2 bytes in %3")
                                 .arg(s.reports)
                                 .arg(s.bytes)
                                 .arg(file) +
                             dropped);
    } else if (!s.error.empty()) {
        recordState->setText(QStringLiteral("Recording ended: cannot write %1: %2")
                                 .arg(file, QString::fromStdString(s.error)));
    } else if (s.writing) {
        recordState->setText(QStringLiteral("Writing the rest of the recording to %1…").arg(file));
    } else if (s.stoppedAtLimit) {
        recordState->setText(QStringLiteral("Recording stopped at its size limit: %1 reports in %2")
                                 .arg(s.reports)
                                 .arg(file) +
                             dropped);
    } else if (!s.path.empty()) {
        recordState->setText(QStringLiteral("Recorded %1 reports in %2").arg(s.reports).arg(file) +
                             dropped);
    } else {
        recordState->clear();
    }
}

} // namespace qx
