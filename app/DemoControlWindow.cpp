// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DemoControlWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qx {

DemoControlWindow::DemoControlWindow(unit::VirtualBench& bench, QWidget* parent)
    : QWidget(parent, Qt::Window), bench_(bench) {
    setWindowTitle(tr("Virtual QX-77ZT"));
    auto* layout = new QVBoxLayout(this);

    state_ = new QLabel(this);
    layout->addWidget(state_);

    plug = new QPushButton(this);
    layout->addWidget(plug);
    connect(plug, &QPushButton::clicked, this, [this] {
        bench_.setPlugged(0, !bench_.plugged(0));
        showState();
    });

    bootRestart = new QPushButton(tr("Restart in boot mode"), this);
    normalRestart = new QPushButton(tr("Restart in normal mode"), this);
    layout->addWidget(bootRestart);
    layout->addWidget(normalRestart);
    connect(bootRestart, &QPushButton::clicked, this, [this] {
        bench_.restart(0, true);
        showState();
    });
    connect(normalRestart, &QPushButton::clicked, this, [this] {
        bench_.restart(0, false);
        showState();
    });

    auto* levels = new QGroupBox(tr("Programme at the inputs"), this);
    auto* levelsLayout = new QVBoxLayout(levels);
    pattern = new QComboBox(levels);
    pattern->addItem(tr("Silence"), static_cast<int>(unit::LevelPattern::Silence));
    pattern->addItem(tr("Steady tone"), static_cast<int>(unit::LevelPattern::SteadyTone));
    pattern->addItem(tr("Programme"), static_cast<int>(unit::LevelPattern::Programme));
    pattern->addItem(tr("Overload"), static_cast<int>(unit::LevelPattern::Overload));
    pattern->setCurrentIndex(pattern->findData(static_cast<int>(bench_.unit(0).levelPattern())));
    levelsLayout->addWidget(pattern);
    layout->addWidget(levels);
    connect(pattern, &QComboBox::currentIndexChanged, this, [this] {
        bench_.unit(0).setLevelPattern(
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

void DemoControlWindow::applyFaults() {
    unit::Faults f = bench_.unit(0).faults();
    f.silent = silent->isChecked();
    f.corruptCrc = corrupt->isChecked();
    bench_.unit(0).setFaults(f);
}

QString DemoControlWindow::stateText() const {
    return state_->text();
}

void DemoControlWindow::showState() {
    const bool in = bench_.plugged(0);
    plug->setText(in ? tr("Unplug") : tr("Plug in"));
    state_->setText(
        in ? tr("Plugged in, %1").arg(bench_.unit(0).bootMode() ? tr("boot loader") : tr("running"))
           : tr("Unplugged"));
}

} // namespace qx
