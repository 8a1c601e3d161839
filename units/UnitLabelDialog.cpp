// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/UnitLabelDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qx::units {

UnitLabelDialog::UnitLabelDialog(room::UnitRoom& room, int index, QWidget* parent)
    : QDialog(parent), room_(room), index_(index) {
    setObjectName(QStringLiteral("unitLabelDialog"));
    const room::RoomUnit& u = room_.unit(index_);
    setWindowTitle(
        QStringLiteral("Label of unit %1").arg(QString::fromStdString(room::keyText(u.key()))));
    const state::UnitLabel record = room_.labelRecord(index_);

    auto* form = new QFormLayout;
    label = new QLineEdit(QString::fromStdString(record.label), this);
    label->setObjectName(QStringLiteral("label"));
    label->setMaxLength(static_cast<int>(state::kMaxLabelCharacters));
    label->setPlaceholderText(QStringLiteral("Studio A L/R"));
    form->addRow(QStringLiteral("&Label:"), label);

    profile = new QLineEdit(QString::fromStdString(record.profile), this);
    profile->setObjectName(QStringLiteral("profile"));
    browse = new QPushButton(QStringLiteral("&Browse..."), this);
    auto* profileRow = new QHBoxLayout;
    profileRow->addWidget(profile, 1);
    profileRow->addWidget(browse);
    form->addRow(QStringLiteral("&Settings file:"), profileRow);
    apply = new QCheckBox(QStringLiteral("&Write it to the unit whenever it connects"), this);
    apply->setObjectName(QStringLiteral("apply"));
    apply->setChecked(record.applyProfile);
    form->addRow(QString(), apply);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString name =
            QFileDialog::getOpenFileName(this, QStringLiteral("Settings file"), profile->text());
        if (!name.isEmpty()) {
            profile->setText(name);
        }
    });

    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setWordWrap(true);
    QPalette red = problem_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    problem_->setPalette(red);
    problem_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &UnitLabelDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &UnitLabelDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
}

QString UnitLabelDialog::problem() const {
    return problem_->isVisible() || !problem_->isHidden() ? problem_->text() : QString();
}

void UnitLabelDialog::accept() {
    const std::string text = label->text().trimmed().toStdString();
    const std::string file = profile->text().trimmed().toStdString();
    std::string why = state::labelProblem(text);
    if (why.empty() && apply->isChecked() && file.empty()) {
        why = "choose the settings file to write to the unit";
    }
    if (why.empty()) {
        why = room_.setLabel(index_, text, file, apply->isChecked() && !file.empty());
    }
    if (!why.empty()) {
        problem_->setText(QString::fromStdString(why));
        problem_->show();
        return;
    }
    problem_->hide();
    QDialog::accept();
}

} // namespace qx::units
