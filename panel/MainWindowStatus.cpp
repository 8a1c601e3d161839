// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's status line and the stale look of its meters.
#include "levels/LevelMeters.h"
#include "panel/StatusLine.h"
#include "panel/umain.h"
#include "update/uu.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace qx {

void Tfmain::showUnitHint(const QString& text, const QString& details) {
    unitHint_ = text;
    unitHintDetails_ = details;
    updateStatusLine();
}

QString Tfmain::unitHint() const {
    return unitHint_;
}

QString Tfmain::statusText() const {
    return hint_->text();
}

void Tfmain::updateStatusLine() {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const auto now = LinkState::Clock::now();
    panel::LinkView v;
    v.connected = link_->connected;
    v.bootMode = link_->bootMode;
    v.name = tfu_.deviceName().toStdString();
    v.serial = tfu_.deviceSerial().toStdString();
    v.version = tfu_.deviceVersion().toStdString();
    const auto heardFrom = std::max(connectedAt_, link_->lastAnswerAt().value_or(connectedAt_));
    v.silentFor = duration_cast<milliseconds>(now - heardFrom);
    // Damage is counted from the last good answer (as first seen here) on: earlier failures
    // belong to a link that then answered.
    const LinkCountersSnapshot counts = link_->counters.snapshot(now);
    const std::uint64_t failures = counts.crcFailures + counts.lengthFailures;
    if (heardFrom != damageCountedFrom_) {
        damageCountedFrom_ = heardFrom;
        failuresBefore_ = failures;
    }
    v.damagedAnswers = failures - failuresBefore_;
    if (const auto since = link_->unconfirmedSince()) {
        v.unconfirmedFor = duration_cast<milliseconds>(now - *since);
    }
    const panel::StatusSentence sentence = panel::statusSentence(v);
    markMetersStale(sentence.metersStale);
    if (const auto stands = panel::sentenceStandsFor(v)) {
        statusLineTimer_->start(*stands);
    } else {
        statusLineTimer_->stop();
    }

    // The permission hint says what to do about a unit that is there but cannot be opened; it
    // stays until a scan no longer finds that.
    const bool hinted = !unitHint_.isEmpty();
    QString text = hinted ? unitHint_ : QString::fromStdString(sentence.text);
    // With the update window open over a unit that runs normally, what matters is what that
    // window waits for.
    if (!hinted && updateWindowOpen_ && sentence.condition == panel::LinkCondition::Connected &&
        !tfu_.selectHint().isEmpty()) {
        text = tfu_.selectHint();
    }
    QString tip;
    if (hinted) {
        tip = unitHintDetails_.isEmpty() ? unitHint_
                                         : unitHint_ + QStringLiteral("\n\n") + unitHintDetails_;
    }
    if (hint_->text() != text) {
        hint_->setText(text);
    }
    if (toolTip() != tip) {
        setToolTip(tip);
    }
}

void Tfmain::markMetersStale(bool stale) {
    for (int ch : {levels::LevelMeters::kLeft, levels::LevelMeters::kRight}) {
        levelMeters_->meter(ch)->setStale(stale);
    }
    for (QLabel* reading : {static_cast<QLabel*>(levl), static_cast<QLabel*>(levr)}) {
        if (reading->isEnabledTo(pnl1) == stale) {
            reading->setEnabled(!stale);
        }
    }
}

} // namespace qx
