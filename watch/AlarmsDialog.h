// SPDX-License-Identifier: GPL-3.0-or-later
// "Alarms…": which alarms are on, their level, channels, hold-off and clear times, what is done
// when one is raised or cleared, and how much of the event log is kept. Reads and writes the same
// alarms.conf the monitor reads; a value that is not one is refused with the reason, and nothing
// is written then. Settings of single units are edited as the file's own "[unit ...]" sections.
#pragma once

#include "watch/AlarmSettings.h"

#include <QDialog>

#include <array>
#include <filesystem>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace qx::watch {

class AlarmsDialog : public QDialog {
    Q_OBJECT
public:
    // Shows what `configPath` holds now (the defaults when it is missing, and why when it is
    // refused).
    explicit AlarmsDialog(std::filesystem::path configPath, QWidget* parent = nullptr);

    struct AlarmRow {
        QCheckBox* on = nullptr;
        QLineEdit* after = nullptr;
        QLineEdit* clear = nullptr;
    };
    std::array<AlarmRow, kAlarmKinds> rows;
    QDoubleSpinBox* silenceLevel = nullptr;
    QComboBox* silenceChannels = nullptr;
    QCheckBox* notify = nullptr;
    QLineEdit* command = nullptr;
    QLineEdit* commandLimit = nullptr;
    QSpinBox* maxDays = nullptr;
    QLineEdit* maxSize = nullptr;
    // The units' own settings, as the file's "[unit ...]" sections.
    QPlainTextEdit* units = nullptr;

    // Why the last try to save failed, or what is wrong with the file read; empty when nothing.
    QString problem() const;
    // The settings as the fields give them; empty with problem() set when one is not a value.
    std::optional<AlarmSettings> settingsFromFields();

    // Checks the fields and writes the file; stays open with the reason when either fails.
    void accept() override;

signals:
    // The file was written with these settings: the watch takes them.
    void saved(const qx::watch::AlarmSettings& settings);

private:
    void showSettings(const AlarmSettings& settings);
    void showProblem(const QString& text);

    std::filesystem::path path_;
    AlarmSettings loaded_;
    QLabel* problem_ = nullptr;
};

} // namespace qx::watch
