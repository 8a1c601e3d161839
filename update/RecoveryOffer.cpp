// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/RecoveryOffer.h"

#include <QLabel>
#include <QPushButton>

namespace qx {

namespace {
constexpr int kMargin = 5;
constexpr int kButtonHeight = 25;
} // namespace

RecoveryOffer::RecoveryOffer(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("recoveryOffer"));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    text = new QLabel(this);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    run = new QPushButton(QStringLiteral("Run again"), this);
    run->setAutoDefault(false);
    hide();
}

void RecoveryOffer::offer(const QString& message) {
    text->setText(message);
    const int inner = kWidth - 2 * kMargin;
    const int textHeight = text->heightForWidth(inner);
    text->setGeometry(kMargin, kMargin, inner, textHeight);
    run->setGeometry(kMargin, kMargin + textHeight + kMargin, inner, kButtonHeight);
    resize(kWidth, textHeight + kButtonHeight + 3 * kMargin);
}

} // namespace qx
