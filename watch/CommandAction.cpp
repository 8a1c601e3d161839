// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/CommandAction.h"

#include "watch/AlarmConfig.h"
#include "watch/ProcessGroup.h"

#include <QProcess>
#include <QTimer>

#include <algorithm>

namespace qx::watch {

struct CommandAction::Running {
    QProcess* process = nullptr;
    QTimer* limit = nullptr;
    AlarmFacts facts;
    Millis limitTime{0};
    bool killed = false;
    qint64 group = 0;
};

CommandAction::CommandAction(Failure failed, QObject* parent)
    : QObject(parent), failed_(std::move(failed)) {}

CommandAction::~CommandAction() {
    for (Running* r : running_) {
        r->process->disconnect(this);
        killGroup(r->group);
        r->process->kill();
        r->process->waitForFinished(2000);
        delete r->process;
        delete r;
    }
}

void CommandAction::run(const std::vector<std::string>& words, Millis limit,
                        const AlarmFacts& facts) {
    if (words.empty() || words.front().empty()) {
        return;
    }
    if (running() >= kMaxRunning) {
        if (failed_) {
            failed_(facts, "not started: " + std::to_string(kMaxRunning) +
                               " alarm commands are still running");
        }
        return;
    }
    auto* r = new Running;
    r->facts = facts;
    r->limitTime = limit;
    r->process = new QProcess;
    QProcess* p = r->process;
    p->setProgram(QString::fromStdString(words.front()));
    QStringList arguments;
    for (std::size_t i = 1; i < words.size(); ++i) {
        arguments << QString::fromStdString(words[i]);
    }
    p->setArguments(arguments);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QX_ALARM"), QString::fromUtf8(alarmWord(facts.kind)));
    env.insert(QStringLiteral("QX_UNIT"), QString::fromStdString(facts.unit));
    env.insert(QStringLiteral("QX_SERIAL"), QString::fromStdString(facts.serial));
    env.insert(QStringLiteral("QX_STATE"), QString::fromUtf8(stateWord(facts)));
    env.insert(QStringLiteral("QX_TIME"), QString::fromStdString(isoTime(facts.time)));
    p->setProcessEnvironment(env);
    p->setStandardInputFile(QProcess::nullDevice());
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    leadOwnGroup(*p);
    r->limit = new QTimer(p);
    r->limit->setSingleShot(true);
    connect(r->limit, &QTimer::timeout, this, [r] {
        r->killed = true;
        killGroup(r->group);
        r->process->kill();
    });
    connect(p, &QProcess::errorOccurred, this, [this, p](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            ended(p, "could not be started: " + p->errorString().toStdString());
        }
    });
    connect(p, &QProcess::finished, this, [this, r, p](int code, QProcess::ExitStatus status) {
        std::string why;
        if (r->killed) {
            why = "killed after its limit of " + durationText(r->limitTime);
        } else if (status == QProcess::CrashExit) {
            why = "ended by a signal";
        } else if (code != 0) {
            why = "ended with exit status " + std::to_string(code);
        }
        ended(p, why);
    });
    running_.push_back(r);
    p->start();
    r->group = p->processId();
    if (r->group > 0) {
        r->limit->start(limit);
    }
}

void CommandAction::ended(QProcess* process, const std::string& why) {
    const auto it = std::find_if(running_.begin(), running_.end(),
                                 [process](const Running* r) { return r->process == process; });
    if (it == running_.end()) {
        return;
    }
    Running* r = *it;
    running_.erase(it);
    r->limit->stop();
    const AlarmFacts facts = r->facts;
    r->process->deleteLater();
    delete r;
    if (!why.empty() && failed_) {
        failed_(facts, why);
    }
    emit commandEnded();
}

} // namespace qx::watch
