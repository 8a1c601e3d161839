// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the operator's alarm command: its words as they are, with no shell between (a unit's name
// with shell characters in it is only ever a value in the environment), the facts in QX_ALARM,
// QX_UNIT, QX_SERIAL, QX_STATE and QX_TIME, its output discarded, and killed with whatever it
// started once it runs past its limit. A command that cannot start, fails or is killed is told.
#pragma once

#include "watch/AlarmActions.h"

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QProcess;

namespace qx::watch {

class CommandAction : public QObject, public AlarmCommand {
    Q_OBJECT
public:
    // `failed` hears every command that did not end well: the facts it ran for and why.
    using Failure = std::function<void(const AlarmFacts& facts, const std::string& why)>;
    explicit CommandAction(Failure failed, QObject* parent = nullptr);
    // Kills what still runs.
    ~CommandAction() override;

    // At most this many commands run at once; further alarms' commands are refused (and told)
    // until one ends, so that a flapping unit cannot fill the process table.
    static constexpr int kMaxRunning = 16;

    void run(const std::vector<std::string>& words, Millis limit, const AlarmFacts& facts) override;
    int running() const { return static_cast<int>(running_.size()); }

signals:
    // A command ended, well or not (for tests and the log).
    void commandEnded();

private:
    struct Running;
    void ended(QProcess* process, const std::string& why);

    Failure failed_;
    std::vector<Running*> running_;
};

} // namespace qx::watch
