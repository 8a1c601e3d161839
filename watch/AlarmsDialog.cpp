// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/AlarmsDialog.h"

#include "watch/AlarmConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qx::watch {

namespace {

QString alarmTitle(AlarmKind kind) {
    switch (kind) {
    case AlarmKind::Silence:
        return QStringLiteral("&Silence");
    case AlarmKind::Over:
        return QStringLiteral("&Over (latched)");
    case AlarmKind::Lost:
        return QStringLiteral("Unit &lost");
    case AlarmKind::BootLoader:
        return QStringLiteral("&Boot loader, no update");
    }
    return {};
}

QString plainTitle(AlarmKind kind) {
    return alarmTitle(kind).remove(QLatin1Char('&'));
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

AlarmsDialog::AlarmsDialog(std::filesystem::path configPath, QWidget* parent)
    : QDialog(parent), path_(std::move(configPath)) {
    setObjectName(QStringLiteral("alarmsDialog"));
    setWindowTitle(QStringLiteral("Alarms"));

    auto* alarms = new QGroupBox(QStringLiteral("Alarms of every unit"), this);
    auto* alarmsLayout = new QVBoxLayout(alarms);
    auto* grid = new QGridLayout;
    alarmsLayout->addLayout(grid);
    grid->addWidget(new QLabel(QStringLiteral("Raised after"), alarms), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Cleared after"), alarms), 0, 2);
    int line = 1;
    for (const AlarmKind kind : kAllAlarms) {
        AlarmRow& row = rows[indexOf(kind)];
        const QString word = QString::fromUtf8(alarmWord(kind));
        row.on = new QCheckBox(alarmTitle(kind), alarms);
        row.on->setObjectName(word);
        row.after = new QLineEdit(alarms);
        row.after->setObjectName(word + QStringLiteral(".after"));
        row.after->setAccessibleName(plainTitle(kind) + QStringLiteral(": raised after"));
        row.after->setPlaceholderText(QStringLiteral("10s"));
        row.clear = new QLineEdit(alarms);
        row.clear->setObjectName(word + QStringLiteral(".clear"));
        row.clear->setAccessibleName(plainTitle(kind) + QStringLiteral(": cleared after"));
        row.clear->setPlaceholderText(QStringLiteral("2s"));
        grid->addWidget(row.on, line, 0);
        grid->addWidget(row.after, line, 1);
        grid->addWidget(row.clear, line, 2);
        ++line;
        if (kind == AlarmKind::Silence) {
            silenceLevel = new QDoubleSpinBox(alarms);
            silenceLevel->setObjectName(QStringLiteral("silence.level"));
            silenceLevel->setRange(kLowestLevelDb, kHighestLevelDb);
            silenceLevel->setDecimals(1);
            silenceLevel->setSuffix(QStringLiteral(" dB"));
            silenceLevel->setAccessibleName(QStringLiteral("Silence below"));
            silenceChannels = new QComboBox(alarms);
            silenceChannels->setObjectName(QStringLiteral("silence.channels"));
            silenceChannels->addItem(QStringLiteral("on both channels"));
            silenceChannels->addItem(QStringLiteral("on either channel"));
            silenceChannels->setAccessibleName(QStringLiteral("Silence channels"));
            auto* below = new QLabel(QStringLiteral("&below"), alarms);
            below->setBuddy(silenceLevel);
            auto* levelRow = new QHBoxLayout;
            levelRow->addSpacing(24);
            levelRow->addWidget(below);
            levelRow->addWidget(silenceLevel);
            levelRow->addWidget(silenceChannels);
            levelRow->addStretch(1);
            grid->addLayout(levelRow, line, 0, 1, 3);
            ++line;
        }
    }
    auto* hint = new QLabel(
        QStringLiteral("Times as 500ms, 10s, 2m or 1h. An alarm is raised once its condition has "
                       "lasted the first time, and cleared once it has been gone the second."),
        alarms);
    hint->setWordWrap(true);
    alarmsLayout->addWidget(hint);

    auto* actions = new QGroupBox(QStringLiteral("When an alarm is raised or cleared"), this);
    auto* actionForm = new QFormLayout(actions);
    notify = new QCheckBox(QStringLiteral("Show a desktop &notification"), actions);
    notify->setObjectName(QStringLiteral("notify"));
    actionForm->addRow(notify);
    command = new QLineEdit(actions);
    command->setObjectName(QStringLiteral("command"));
    command->setPlaceholderText(QStringLiteral("/usr/local/bin/page-engineer --loud"));
    command->setToolTip(QStringLiteral(
        "Run with no shell; quotes group words. It gets QX_ALARM, QX_UNIT, QX_SERIAL, QX_STATE "
        "and QX_TIME in its environment."));
    actionForm->addRow(QStringLiteral("Run &command:"), command);
    commandLimit = new QLineEdit(actions);
    commandLimit->setObjectName(QStringLiteral("command.limit"));
    actionForm->addRow(QStringLiteral("&Stop it after:"), commandLimit);

    auto* log = new QGroupBox(QStringLiteral("Event log"), this);
    auto* logRow = new QHBoxLayout(log);
    maxDays = new QSpinBox(log);
    maxDays->setObjectName(QStringLiteral("max-days"));
    maxDays->setRange(1, kMaxLogDays);
    maxDays->setSuffix(QStringLiteral(" days"));
    maxDays->setAccessibleName(QStringLiteral("Keep the event log at most, in days"));
    maxSize = new QLineEdit(log);
    maxSize->setObjectName(QStringLiteral("max-size"));
    maxSize->setToolTip(QStringLiteral("A size such as 512M (K, M, G)"));
    maxSize->setAccessibleName(QStringLiteral("Keep the event log at most, in size"));
    auto* keep = new QLabel(QStringLiteral("&Keep at most"), log);
    keep->setBuddy(maxDays);
    auto* andAt = new QLabel(QStringLiteral("and &at most"), log);
    andAt->setBuddy(maxSize);
    logRow->addWidget(keep);
    logRow->addWidget(maxDays);
    logRow->addWidget(andAt);
    logRow->addWidget(maxSize);
    logRow->addStretch(1);

    auto* unitsBox = new QGroupBox(QStringLiteral("Settings of single units"), this);
    auto* unitsLayout = new QVBoxLayout(unitsBox);
    units = new QPlainTextEdit(unitsBox);
    units->setObjectName(QStringLiteral("units"));
    units->setAccessibleName(QStringLiteral("Settings of single units"));
    units->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    units->setTabChangesFocus(true);
    units->setPlaceholderText(
        QStringLiteral("[unit Studio A]\nsilence.level = -45\n\n[unit QX7700000042]\nlost = off"));
    units->setToolTip(QStringLiteral(
        "A section per unit, by serial number or label, with the settings it does not share, "
        "as in alarms.conf"));
    units->setFixedHeight(units->fontMetrics().lineSpacing() * 5 + 12);
    unitsLayout->addWidget(units);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setWordWrap(true);
    QPalette red = problem_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    problem_->setPalette(red);
    problem_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &AlarmsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AlarmsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(alarms);
    layout->addWidget(actions);
    layout->addWidget(log);
    layout->addWidget(unitsBox);
    layout->addWidget(problem_);
    layout->addWidget(buttons);

    const ConfigLoad load = loadAlarmConfig(path_);
    loaded_ = load.settings;
    showSettings(loaded_);
    if (load.status == ConfigLoad::Status::Refused) {
        showProblem(text(load.error) +
                    QStringLiteral("\nThe file is not used; saving here replaces it."));
    }
}

void AlarmsDialog::showSettings(const AlarmSettings& s) {
    for (const AlarmKind kind : kAllAlarms) {
        AlarmRow& row = rows[indexOf(kind)];
        row.on->setChecked(s.rules[kind].on);
        row.after->setText(text(durationText(s.rules[kind].after)));
        row.clear->setText(text(durationText(s.rules[kind].clear)));
    }
    silenceLevel->setValue(s.rules.silenceLevelDb);
    silenceChannels->setCurrentIndex(s.rules.silenceChannels == SilenceChannels::Both ? 0 : 1);
    notify->setChecked(s.actions.notify);
    command->setText(text(joinWords(s.actions.command)));
    commandLimit->setText(text(durationText(s.actions.commandLimit)));
    maxDays->setValue(s.log.maxDays);
    maxSize->setText(text(sizeText(s.log.maxBytes)));
    units->setPlainText(text(formatOverrides(s.overrides)));
}

void AlarmsDialog::showProblem(const QString& why) {
    problem_->setText(why);
    problem_->setVisible(!why.isEmpty());
    if (isVisible()) {
        // Room for the text, without squeezing the rows above it.
        adjustSize();
    }
}

QString AlarmsDialog::problem() const {
    return problem_->isHidden() ? QString() : problem_->text();
}

std::optional<AlarmSettings> AlarmsDialog::settingsFromFields() {
    AlarmSettings s = loaded_;
    for (const AlarmKind kind : kAllAlarms) {
        AlarmRow& row = rows[indexOf(kind)];
        s.rules[kind].on = row.on->isChecked();
        for (auto [edit, into, what] :
             {std::tuple{row.after, &s.rules[kind].after, "raised after"},
              std::tuple{row.clear, &s.rules[kind].clear, "cleared after"}}) {
            const auto d = parseDuration(edit->text().toStdString());
            if (!d) {
                showProblem(QStringLiteral("%1, %2: \"%3\" is not a time such as 500ms, 10s, 2m "
                                           "or 1h (at most 24h).")
                                .arg(plainTitle(kind), QString::fromUtf8(what), edit->text()));
                edit->setFocus();
                return std::nullopt;
            }
            *into = *d;
        }
    }
    s.rules.silenceLevelDb = silenceLevel->value();
    s.rules.silenceChannels =
        silenceChannels->currentIndex() == 0 ? SilenceChannels::Both : SilenceChannels::Either;
    s.actions.notify = notify->isChecked();
    const auto words = splitWords(command->text().toStdString());
    if (!words) {
        showProblem(QStringLiteral("The command has a quote that is not closed."));
        command->setFocus();
        return std::nullopt;
    }
    // The file's own checks, so that what is written is what will be read.
    if (const std::string why = commandProblem(*words); !why.empty()) {
        showProblem(QStringLiteral("The ") + text(why) + QStringLiteral("."));
        command->setFocus();
        return std::nullopt;
    }
    s.actions.command = *words;
    const auto limit = parseDuration(commandLimit->text().toStdString());
    if (!limit || !commandLimitProblem(*limit).empty()) {
        showProblem(QStringLiteral("\"%1\" cannot be the command's time limit: it must be a "
                                   "time from 100ms to 1h.")
                        .arg(commandLimit->text()));
        commandLimit->setFocus();
        return std::nullopt;
    }
    s.actions.commandLimit = *limit;
    s.log.maxDays = maxDays->value();
    const auto size = parseSize(maxSize->text().toStdString());
    if (!size || *size < (1ULL << 20) || *size > (1ULL << 40)) {
        showProblem(QStringLiteral("\"%1\" cannot be the event log's size: it must be a size "
                                   "from 1M to 1024G such as 512M (K, M, G).")
                        .arg(maxSize->text()));
        maxSize->setFocus();
        return std::nullopt;
    }
    s.log.maxBytes = *size;
    std::string error;
    auto overrides = parseOverrides(units->toPlainText().toStdString(), error);
    if (!overrides) {
        showProblem(QStringLiteral("Settings of single units: ") + text(error));
        units->setFocus();
        return std::nullopt;
    }
    s.overrides = std::move(*overrides);
    return s;
}

void AlarmsDialog::accept() {
    const std::optional<AlarmSettings> s = settingsFromFields();
    if (!s) {
        return;
    }
    const std::string error = saveAlarmConfig(path_, *s);
    if (!error.empty()) {
        showProblem(QStringLiteral("The alarms could not be saved: ") + text(error));
        return;
    }
    showProblem({});
    loaded_ = *s;
    emit saved(*s);
    QDialog::accept();
}

} // namespace qx::watch
