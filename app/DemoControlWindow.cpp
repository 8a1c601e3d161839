// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DemoControlWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace qx {

DemoControlWindow::DemoControlWindow(unit::VirtualBench& bench, QWidget* parent)
    : QWidget(parent, Qt::Window), bench_(bench) {
    setWindowTitle(tr("Virtual QX-77ZT"));
    auto* layout = new QVBoxLayout(this);

    // Which of the virtual units the controls below act on; more can be plugged in.
    auto* units = new QHBoxLayout;
    unitChoice = new QComboBox(this);
    unitChoice->setAccessibleName(tr("Virtual unit"));
    addUnit = new QPushButton(tr("Add unit"), this);
    units->addWidget(unitChoice, 1);
    units->addWidget(addUnit);
    layout->addLayout(units);
    listUnits();
    connect(unitChoice, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            current_ = index;
            pattern->setCurrentIndex(
                pattern->findData(static_cast<int>(bench_.unit(current_).levelPattern())));
            const unit::Faults f = bench_.unit(current_).faults();
            silent->setChecked(f.silent);
            corrupt->setChecked(f.corruptCrc);
            showState();
        }
    });
    connect(addUnit, &QPushButton::clicked, this, [this] {
        unit::Identity id;
        id.serial = demoSerial(bench_.unitCount()).toStdString();
        const int index = bench_.addUnit(id);
        bench_.setPlugged(index, true);
        listUnits();
        unitChoice->setCurrentIndex(index);
    });

    state_ = new QLabel(this);
    layout->addWidget(state_);

    plug = new QPushButton(this);
    layout->addWidget(plug);
    connect(plug, &QPushButton::clicked, this, [this] {
        bench_.setPlugged(current_, !bench_.plugged(current_));
        showState();
    });

    bootRestart = new QPushButton(tr("Restart in boot mode"), this);
    normalRestart = new QPushButton(tr("Restart in normal mode"), this);
    layout->addWidget(bootRestart);
    layout->addWidget(normalRestart);
    connect(bootRestart, &QPushButton::clicked, this, [this] {
        bench_.restart(current_, true);
        showState();
    });
    connect(normalRestart, &QPushButton::clicked, this, [this] {
        bench_.restart(current_, false);
        showState();
    });

    auto* levels = new QGroupBox(tr("Programme at the inputs"), this);
    auto* levelsLayout = new QVBoxLayout(levels);
    pattern = new QComboBox(levels);
    pattern->addItem(tr("Silence"), static_cast<int>(unit::LevelPattern::Silence));
    pattern->addItem(tr("Steady tone"), static_cast<int>(unit::LevelPattern::SteadyTone));
    pattern->addItem(tr("Programme"), static_cast<int>(unit::LevelPattern::Programme));
    pattern->addItem(tr("Overload"), static_cast<int>(unit::LevelPattern::Overload));
    pattern->setCurrentIndex(
        pattern->findData(static_cast<int>(bench_.unit(current_).levelPattern())));
    levelsLayout->addWidget(pattern);
    layout->addWidget(levels);
    connect(pattern, &QComboBox::currentIndexChanged, this, [this] {
        bench_.unit(current_).setLevelPattern(
            static_cast<unit::LevelPattern>(pattern->currentData().toInt()));
    });

    auto* faults = new QGroupBox(tr("Faults"), this);
    auto* faultsLayout = new QVBoxLayout(faults);
    silent = new QCheckBox(tr("Unit stays silent"), faults);
    corrupt = new QCheckBox(tr("Answers fail their checksum"), faults);
    faultsLayout->addWidget(silent);
    faultsLayout->addWidget(corrupt);
    layout->addWidget(faults);
    connect(silent, &QCheckBox::toggled, this, &DemoControlWindow::applyFaults);
    connect(corrupt, &QCheckBox::toggled, this, &DemoControlWindow::applyFaults);

    layout->addStretch();
    showState();
}

QString demoSerial(int index) {
    return QStringLiteral("QX%1").arg(7700000042LL + index, 10, 10, QLatin1Char('0'));
}

void DemoControlWindow::listUnits() {
    const QSignalBlocker quiet(unitChoice);
    unitChoice->clear();
    for (int i = 0; i < bench_.unitCount(); ++i) {
        unitChoice->addItem(tr("Unit %1 (%2)")
                                .arg(i + 1)
                                .arg(QString::fromStdString(bench_.unit(i).identity().serial)));
    }
    unitChoice->setCurrentIndex(current_);
    unitChoice->setVisible(bench_.unitCount() > 1);
}

void DemoControlWindow::applyFaults() {
    unit::Faults f = bench_.unit(current_).faults();
    f.silent = silent->isChecked();
    f.corruptCrc = corrupt->isChecked();
    bench_.unit(current_).setFaults(f);
}

QString DemoControlWindow::stateText() const {
    return state_->text();
}

void DemoControlWindow::showState() {
    const bool in = bench_.plugged(current_);
    plug->setText(in ? tr("Unplug") : tr("Plug in"));
    state_->setText(
        in ? tr("Plugged in, %1")
                 .arg(bench_.unit(current_).bootMode() ? tr("boot loader") : tr("running"))
           : tr("Unplugged"));
}

} // namespace qx
