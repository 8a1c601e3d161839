// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/UnitChooser.h"

#include "units/UnitMeterModel.h"

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QShortcut>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace qx::units {

namespace {

constexpr int kRowHeight = 22;
constexpr int kBarHeight = 3;
constexpr int kBarWidth = 44;

QString rowText(const room::RoomUnit& u) {
    return QString::fromStdString(u.name());
}

} // namespace

UnitRow::UnitRow(room::UnitRoom& room, int index, QWidget* parent)
    : QRadioButton(parent), room_(room), index_(index) {
    setObjectName(QStringLiteral("unitRow%1").arg(index));
    setFocusPolicy(Qt::StrongFocus);
    refresh();
}

std::array<int, 2> UnitRow::barWidths() const {
    const room::RoomUnit& u = room_.unit(index_);
    if (!u.link().connected || u.link().bootMode) {
        return {-1, -1};
    }
    std::array<int, 2> widths{};
    for (std::size_t c = 0; c < 2; ++c) {
        widths[c] = static_cast<int>(barShare(u.levels().channels[c].level) * kBarWidth + 0.5);
    }
    return widths;
}

void UnitRow::levelsChanged() {
    // Most answers move no bar by a whole pixel: the main window is not redrawn for them.
    const auto& ch = room_.unit(index_).levels().channels;
    const std::array<bool, 2> latched{ch[0].latch.latched(), ch[1].latch.latched()};
    if (barWidths() != paintedWidths_ || latched != paintedLatches_) {
        update();
    }
}

QSize UnitRow::sizeHint() const {
    return {120, kRowHeight};
}

void UnitRow::refresh() {
    const room::RoomUnit& u = room_.unit(index_);
    const QString name = rowText(u);
    if (text() != name) {
        setText(name);
    }
    QString description = QString::fromLatin1(room::stateWord(u.state()));
    if (!u.label().empty()) {
        description += QStringLiteral(", serial ") + QString::fromStdString(u.key().serial);
    }
    const auto& ch = u.levels().channels;
    if (ch[0].latch.latched() || ch[1].latch.latched()) {
        description += ch[0].latch.latched() && ch[1].latch.latched()
                           ? QStringLiteral(", over on both channels")
                       : ch[0].latch.latched() ? QStringLiteral(", over on the left channel")
                                               : QStringLiteral(", over on the right channel");
    }
    if (index_ < 9) {
        description += QStringLiteral(", Ctrl+%1").arg(index_ + 1);
    }
    if (accessibleDescription() != description) {
        setAccessibleDescription(description);
        setToolTip(description);
    }
    update();
}

void UnitRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect r = rect();
    const bool chosen = isChecked();
    p.fillRect(r, chosen ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
    const QColor ink = chosen ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);

    const room::RoomUnit& u = room_.unit(index_);
    const int bars = kBarWidth + 6;
    const QRect textBox = r.adjusted(6, 0, -bars - 4, 0);
    // The window's fonts are sized in pixels; a smaller one for the state word.
    QFont small = font();
    if (small.pixelSize() > 0) {
        small.setPixelSize(std::max(8, small.pixelSize() * 85 / 100));
    } else {
        small.setPointSizeF(small.pointSizeF() * 0.85);
    }
    const QString state = QString::fromLatin1(room::stateWord(u.state()));
    const int stateWidth = QFontMetrics(small).horizontalAdvance(state);
    p.setPen(ink);
    p.drawText(
        textBox.adjusted(0, 0, -stateWidth - 6, 0), Qt::AlignVCenter | Qt::AlignLeft,
        QFontMetrics(font()).elidedText(text(), Qt::ElideRight, textBox.width() - stateWidth - 6));
    p.setFont(small);
    p.setPen(chosen ? ink : pal.color(QPalette::PlaceholderText));
    p.drawText(textBox, Qt::AlignVCenter | Qt::AlignRight, state);

    // The level pair: left above right, red once its over latched.
    const auto& ch = u.levels().channels;
    const bool live = u.link().connected && !u.link().bootMode;
    paintedWidths_ = barWidths();
    paintedLatches_ = {ch[0].latch.latched(), ch[1].latch.latched()};
    for (int c = 0; c < 2; ++c) {
        const QRect trough(r.right() - bars, r.center().y() - kBarHeight - 1 + c * (kBarHeight + 2),
                           kBarWidth, kBarHeight);
        p.fillRect(trough, kTroughColour);
        const bool over = ch[static_cast<std::size_t>(c)].latch.latched();
        if (live) {
            const int width = paintedWidths_[static_cast<std::size_t>(c)];
            p.fillRect(QRect(trough.topLeft(), QSize(width, trough.height())),
                       over ? kOverColour : kBarColour);
        }
        if (over) {
            p.fillRect(QRect(trough.right() + 2, trough.top(), 3, trough.height()), kOverColour);
        }
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = r.adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

void UnitRow::contextMenuEvent(QContextMenuEvent* e) {
    const auto& ch = room_.unit(index_).levels().channels;
    QMenu menu(this);
    menu.addAction(QStringLiteral("&Label..."), this, [this] { emit labelRequested(index_); });
    if (ch[0].latch.latched() || ch[1].latch.latched()) {
        menu.addAction(QStringLiteral("&Clear over"), this,
                       [this] { emit clearOverRequested(index_); });
    }
    menu.exec(e->globalPos());
}

UnitChooser::UnitChooser(room::UnitRoom& room, std::function<bool()> mayChoose, QWidget* parent)
    : QWidget(parent), room_(room), mayChoose_(std::move(mayChoose)) {
    setObjectName(QStringLiteral("unitChooser"));
    setAccessibleName(QStringLiteral("Units"));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 2);
    layout_->setSpacing(1);
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, [this](int index) {
        if (!choose(index)) {
            showChosen();
        }
    });
    for (int i = 0; i < room_.count(); ++i) {
        addRow(i);
    }
    connect(&room_, &room::UnitRoom::unitAdded, this, [this](int index) {
        addRow(index);
        emit wanted(room_.several());
    });
    connect(&room_, &room::UnitRoom::unitChanged, this, [this](int index) {
        if (index < rowCount()) {
            row(index)->refresh();
        }
        emit wanted(room_.several());
    });
    connect(&room_, &room::UnitRoom::unitAnswered, this, [this](int index) {
        if (index < rowCount() && isVisible()) {
            row(index)->levelsChanged();
        }
    });
    connect(&room_, &room::UnitRoom::shownChanged, this, [this] { showChosen(); });

    for (int n = 1; n <= 9; ++n) {
        auto* key =
            new QShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + n)), this);
        key->setContext(Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, [this, n] { choose(n - 1); });
    }
    auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    next->setContext(Qt::WindowShortcut);
    connect(next, &QShortcut::activated, this, [this] { chooseNext(1); });
    auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
    previous->setContext(Qt::WindowShortcut);
    connect(previous, &QShortcut::activated, this, [this] { chooseNext(-1); });

    stateTimer_ = new QTimer(this);
    stateTimer_->setInterval(1000);
    connect(stateTimer_, &QTimer::timeout, this, [this] {
        if (!isVisible()) {
            return;
        }
        for (UnitRow* r : rows_) {
            r->refresh();
        }
    });
    stateTimer_->start();
}

void UnitChooser::addRow(int index) {
    while (rowCount() <= index) {
        auto* r = new UnitRow(room_, rowCount(), this);
        group_->addButton(r, rowCount());
        connect(r, &UnitRow::clearOverRequested, this, [this](int i) { room_.clearOver(i, -1); });
        layout_->addWidget(r);
        rows_.push_back(r);
    }
    showChosen();
}

bool UnitChooser::choose(int index) {
    if (index < 0 || index >= room_.count()) {
        return false;
    }
    if (index != room_.shown() && mayChoose_ && !mayChoose_()) {
        return false;
    }
    room_.setShown(index);
    return true;
}

void UnitChooser::chooseNext(int step) {
    const int n = room_.count();
    if (n < 2) {
        return;
    }
    choose(((room_.shown() + step) % n + n) % n);
}

void UnitChooser::showChosen() {
    const int shown = room_.shown();
    for (UnitRow* r : rows_) {
        if (r->isChecked() != (r->index() == shown)) {
            r->setChecked(r->index() == shown);
        }
        r->refresh();
    }
}

} // namespace qx::units
