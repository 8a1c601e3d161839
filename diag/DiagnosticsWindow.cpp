#include "diag/DiagnosticsWindow.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace qx {

DiagnosticsWindow::DiagnosticsWindow(std::function<std::string()> report, Dialogs& dialogs,
                                     QWidget* parent)
    : QDialog(parent), report_(std::move(report)), dialogs_(dialogs),
      saveName_(QStringLiteral("qx77zt-diagnostics.txt")) {
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
    QDialog::showEvent(e);
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

} // namespace qx
