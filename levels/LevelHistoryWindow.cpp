// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/LevelHistoryWindow.h"

#include "levels/LevelText.h"
#include "update/Dialogs.h"

#include <QBuffer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace qx::levels {

namespace {

constexpr int64_t kScrollUnitMs = 100;
const QString kCaption = QStringLiteral("Level history");

QPushButton* makeButton(QWidget* parent, const QString& text, const QString& accessible,
                        const char* name) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(accessible);
    b->setAutoDefault(false);
    return b;
}

} // namespace

LevelHistoryWindow::LevelHistoryWindow(LevelMeters& meters, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs) {
    setObjectName(QStringLiteral("levelHistory"));
    setWindowTitle(kCaption);
    setAccessibleName(kCaption);
    resize(760, 380);

    plot = new HistoryPlot(
        meters.history(), [&meters] { return meters.now(); }, this);
    scroll = new QScrollBar(Qt::Horizontal, this);
    scroll->setObjectName(QStringLiteral("historyScroll"));
    scroll->setAccessibleName(QStringLiteral("Time in view"));
    scroll->setFocusPolicy(Qt::StrongFocus);

    zoomInButton =
        makeButton(this, QStringLiteral("Zoom &in"), QStringLiteral("Zoom in"), "zoomIn");
    zoomOutButton =
        makeButton(this, QStringLiteral("Zoom &out"), QStringLiteral("Zoom out"), "zoomOut");
    liveButton = makeButton(this, QStringLiteral("&Live"),
                            QStringLiteral("Follow the newest readings"), "live");
    csvButton = makeButton(this, QStringLiteral("Export &CSV..."),
                           QStringLiteral("Export the readings as CSV"), "exportCsv");
    pngButton = makeButton(this, QStringLiteral("Export &PNG..."),
                           QStringLiteral("Export the plot as PNG"), "exportPng");
    closeButton = makeButton(this, QStringLiteral("Close"), QStringLiteral("Close"), "close");

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {zoomInButton, zoomOutButton, liveButton}) {
        buttons->addWidget(b);
    }
    buttons->addStretch();
    for (QPushButton* b : {csvButton, pngButton, closeButton}) {
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(plot, 1);
    layout->addWidget(scroll);
    layout->addLayout(buttons);

    connect(zoomInButton, &QPushButton::clicked, plot, &HistoryPlot::zoomIn);
    connect(zoomOutButton, &QPushButton::clicked, plot, &HistoryPlot::zoomOut);
    connect(liveButton, &QPushButton::clicked, plot, &HistoryPlot::follow);
    connect(csvButton, &QPushButton::clicked, this, &LevelHistoryWindow::exportCsv);
    connect(pngButton, &QPushButton::clicked, this, &LevelHistoryWindow::exportPng);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    connect(plot, &HistoryPlot::viewChanged, this, &LevelHistoryWindow::syncScroll);
    connect(scroll, &QScrollBar::valueChanged, this, &LevelHistoryWindow::scrolled);

    // Live: every new reading, and a slow tick so that a gap grows while none come.
    connect(&meters, &LevelMeters::historyChanged, this, [this] {
        if (isVisible()) {
            plot->update();
            syncScroll();
        }
    });
    tick_ = new QTimer(this);
    tick_->setInterval(500);
    connect(tick_, &QTimer::timeout, this, [this] {
        if (plot->view().live()) {
            plot->update();
        }
    });
    setTabOrder(plot, scroll);
    syncScroll();
}

void LevelHistoryWindow::showEvent(QShowEvent* e) {
    tick_->start();
    syncScroll();
    QWidget::showEvent(e);
}

void LevelHistoryWindow::hideEvent(QHideEvent* e) {
    tick_->stop();
    QWidget::hideEvent(e);
}

int64_t LevelHistoryWindow::earliestEndMs() const {
    const int64_t now = toMs(plot->now().mono);
    return std::min(now, std::max(plot->oldestMs(), now - HistoryView::kMaxSpanMs) +
                             plot->view().spanMs());
}

void LevelHistoryWindow::syncScroll() {
    const int64_t now = toMs(plot->now().mono);
    const int64_t earliest = earliestEndMs();
    const QSignalBlocker block(scroll);
    scroll->setRange(0, static_cast<int>((now - earliest) / kScrollUnitMs));
    scroll->setPageStep(static_cast<int>(plot->view().spanMs() / kScrollUnitMs));
    scroll->setSingleStep(std::max(1, scroll->pageStep() / 10));
    scroll->setValue(static_cast<int>((plot->view().endMs(now) - earliest) / kScrollUnitMs));
    liveButton->setEnabled(!plot->view().live());
}

void LevelHistoryWindow::scrolled(int value) {
    if (value >= scroll->maximum()) {
        plot->follow();
    } else {
        plot->scrollTo(earliestEndMs() + int64_t{value} * kScrollUnitMs);
    }
}

QString LevelHistoryWindow::askFileName(const QString& initialName, const QString& filter,
                                        const QString& suffix) {
    QString name = dialogs_.saveFileName(this, initialName, filter);
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty()) {
        name += QLatin1Char('.') + suffix;
    }
    return name;
}

bool LevelHistoryWindow::writeFile(const QString& name, const QByteArray& bytes) {
    // Written beside and renamed over the target, so a failed export leaves no half file.
    QSaveFile file(name);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        return true;
    }
    dialogs_.message(this, Dialogs::Icon::Error, kCaption,
                     QStringLiteral("Cannot write file \"%1\". %2").arg(name, file.errorString()),
                     QMessageBox::Ok);
    return false;
}

bool LevelHistoryWindow::exportCsv() {
    const QString name = askFileName(QStringLiteral("level-history.csv"),
                                     QStringLiteral("CSV file (*.csv)"), QStringLiteral("csv"));
    if (name.isEmpty()) {
        return false;
    }
    return writeFile(name, QByteArray::fromStdString(historyCsv(plot->ring())));
}

bool LevelHistoryWindow::exportPng() {
    const QString name = askFileName(QStringLiteral("level-history.png"),
                                     QStringLiteral("PNG image (*.png)"), QStringLiteral("png"));
    if (name.isEmpty()) {
        return false;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(plot->image(unitName ? unitName() : QString()))) {
        dialogs_.message(this, Dialogs::Icon::Error, kCaption,
                         QStringLiteral("Cannot make the picture. %1").arg(writer.errorString()),
                         QMessageBox::Ok);
        return false;
    }
    return writeFile(name, bytes);
}

} // namespace qx::levels
