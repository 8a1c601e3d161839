// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/UnitsWindow.h"

#include "levels/LevelScale.h"
#include "units/UnitMeterModel.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace qx::units {

namespace {

QString readingText(const levels::ChannelMemory& c) {
    const std::optional<double> db = levels::levelDb(c.level);
    if (!db) {
        return QStringLiteral("OVER");
    }
    return QString::number(*db, 'f', 0);
}

// `font` at the largest pixel size from `most` down to `least` at which `text` fits `width`.
QFont fitted(QFont font, const QString& text, int width, int most, int least) {
    font.setPixelSize(most);
    const int wide = QFontMetrics(font).horizontalAdvance(text);
    if (wide <= width || most <= least) {
        return font;
    }
    int size = std::max(least, most * width / std::max(1, wide));
    font.setPixelSize(size);
    while (size > least && QFontMetrics(font).horizontalAdvance(text) > width) {
        font.setPixelSize(--size);
    }
    return font;
}

int columnsFor(int tiles) {
    // One row up to four units, then as square a grid as it takes.
    return tiles <= 4 ? std::max(1, tiles) : static_cast<int>(std::ceil(std::sqrt(tiles)));
}

} // namespace

UnitTile::UnitTile(room::UnitRoom& room, int index, QWidget* parent)
    : QWidget(parent), room_(room), index_(index) {
    setObjectName(QStringLiteral("unitTile%1").arg(index));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    refresh();
}

void UnitTile::refresh() {
    const room::RoomUnit& u = room_.unit(index_);
    const QString name = QString::fromStdString(u.name());
    if (accessibleName() != name) {
        setAccessibleName(name);
    }
    const auto& ch = u.levels().channels;
    QString text = QString::fromLatin1(room::stateWord(u.state()));
    if (u.link().connected && !u.link().bootMode) {
        text +=
            QStringLiteral(", left %1 dB, right %2 dB").arg(readingText(ch[0]), readingText(ch[1]));
    }
    describedOver_ = u.levels().anyOver();
    describedState_ = u.state();
    if (describedOver_) {
        text += QStringLiteral(", over latched; press Space to clear");
    }
    setAccessibleDescription(text);
    update();
}

void UnitTile::answered() {
    // The readings are told once a second; a latch or state that changed, at once (the window's
    // meters latch and clear the shown unit's overs without a word to the room).
    const room::RoomUnit& u = room_.unit(index_);
    if (u.levels().anyOver() != describedOver_ || u.state() != describedState_) {
        refresh();
    } else {
        update();
    }
}

void UnitTile::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QRect r = rect().adjusted(4, 4, -4, -4);
    const room::RoomUnit& u = room_.unit(index_);
    const bool chosen = room_.shown() == index_;
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(chosen ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid));
    p.drawRect(r.adjusted(0, 0, -1, -1));

    // The name takes a tenth of the height, the state word and the readings a little less; each
    // smaller where the tile is too narrow for it.
    const QString name = QString::fromStdString(u.name());
    const QString state = QString::fromLatin1(room::stateWord(u.state()));
    QFont nameFont = font();
    nameFont.setBold(true);
    // Every tile's name at the size the longest one takes, so that their meters line up.
    QString longest = name;
    for (int i = 0; i < room_.count(); ++i) {
        const QString other = QString::fromStdString(room_.unit(i).name());
        if (QFontMetrics(nameFont).horizontalAdvance(other) >
            QFontMetrics(nameFont).horizontalAdvance(longest)) {
            longest = other;
        }
    }
    nameFont = fitted(nameFont, longest, r.width() - 12, std::max(11, r.height() / 11), 11);
    QFont smallFont = fitted(font(), QStringLiteral("not answering"), r.width() - 12,
                             std::max(10, r.height() / 16), 9);
    const int nameHeight = QFontMetrics(nameFont).height();
    const int smallHeight = QFontMetrics(smallFont).height();

    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(nameFont);
    const QRect nameBox(r.left() + 6, r.top() + 4, r.width() - 12, nameHeight);
    p.drawText(nameBox, Qt::AlignHCenter | Qt::AlignVCenter,
               QFontMetrics(nameFont).elidedText(name, Qt::ElideRight, nameBox.width()));
    p.setFont(smallFont);
    const QRect stateBox(nameBox.left(), nameBox.bottom() + 2, nameBox.width(), smallHeight);
    p.drawText(stateBox, Qt::AlignHCenter | Qt::AlignVCenter,
               QFontMetrics(smallFont).elidedText(state, Qt::ElideRight, stateBox.width()));

    // The readings under the bars, as large as the widest usual one lets them be.
    const int gap = std::max(6, (r.width() - 16) / 10);
    const int barWidth = (r.width() - 16 - gap) / 2;
    const QFont readingFont =
        fitted(font(), QStringLiteral("R -88"), barWidth, std::max(10, r.height() / 16), 8);
    const int readingHeight = QFontMetrics(readingFont).height();
    const QRect meters(r.left() + 8, stateBox.bottom() + 6, r.width() - 16,
                       r.bottom() - stateBox.bottom() - 12 - readingHeight);
    if (meters.height() < 10) {
        return;
    }
    const auto& ch = u.levels().channels;
    const bool live = u.link().connected && !u.link().bootMode;
    const char* sides[] = {"L", "R"};
    for (int c = 0; c < 2; ++c) {
        const auto& m = ch[static_cast<std::size_t>(c)];
        const QRect trough(meters.left() + c * (barWidth + gap), meters.top(), barWidth,
                           meters.height());
        p.fillRect(trough, kTroughColour);
        const bool over = m.latch.latched();
        if (live) {
            const int height = static_cast<int>(std::lround(barShare(m.level) * trough.height()));
            p.fillRect(QRect(trough.left(), trough.bottom() - height + 1, trough.width(), height),
                       kBarColour);
            if (const auto peak = peakShare(m)) {
                const int y =
                    trough.bottom() - static_cast<int>(std::lround(*peak * trough.height()));
                p.fillRect(QRect(trough.left(), std::max(trough.top(), y - 1), trough.width(), 3),
                           Qt::white);
            }
        }
        // The latch: the top of the bar stays red until acknowledged.
        if (over) {
            p.fillRect(QRect(trough.left(), trough.top(), trough.width(),
                             std::max(6, trough.height() / 12)),
                       kOverColour);
        }
        p.setPen(over ? kOverColour : palette().color(QPalette::WindowText));
        p.setFont(readingFont);
        const QRect readingBox(trough.left() - gap / 2, trough.bottom() + 2, trough.width() + gap,
                               readingHeight);
        const QString reading =
            live ? QString::fromLatin1(sides[c]) + QStringLiteral(" ") + readingText(m)
                 : QString::fromLatin1(sides[c]);
        p.drawText(
            readingBox, Qt::AlignHCenter | Qt::AlignVCenter,
            QFontMetrics(readingFont).elidedText(reading, Qt::ElideRight, readingBox.width()));
    }
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DotLine));
        p.drawRect(r.adjusted(2, 2, -3, -3));
    }
}

void UnitTile::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        room_.clearOver(index_, -1);
    }
    QWidget::mousePressEvent(e);
}

void UnitTile::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        room_.clearOver(index_, -1);
        return;
    }
    QWidget::keyPressEvent(e);
}

UnitsWindow::UnitsWindow(room::UnitRoom& room, QWidget* parent)
    : QWidget(parent, Qt::Window), room_(room) {
    setObjectName(QStringLiteral("unitsWindow"));
    setWindowTitle(QStringLiteral("Units"));
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(6, 6, 6, 6);
    grid_->setSpacing(6);
    addTiles();
    connect(&room_, &room::UnitRoom::unitAdded, this, [this] { addTiles(); });
    connect(&room_, &room::UnitRoom::unitChanged, this, [this](int index) {
        if (index < tileCount()) {
            tile(index)->refresh();
        }
    });
    connect(&room_, &room::UnitRoom::unitAnswered, this, [this](int index) {
        if (index < tileCount() && isVisible()) {
            tile(index)->answered();
        }
    });
    connect(&room_, &room::UnitRoom::shownChanged, this, [this] {
        for (UnitTile* t : tiles_) {
            t->update();
        }
    });
    // Readings for a screen reader, and state words that change with time alone.
    auto* tick = new QTimer(this);
    tick->setInterval(1000);
    connect(tick, &QTimer::timeout, this, [this] {
        if (isVisible()) {
            for (UnitTile* t : tiles_) {
                t->refresh();
            }
        }
    });
    tick->start();
}

void UnitsWindow::addTiles() {
    while (tileCount() < room_.count()) {
        tiles_.push_back(new UnitTile(room_, tileCount(), this));
    }
    placeTiles();
    // Until it is first shown, the window takes every tile at its hint's size; the operator's
    // size is kept after that.
    if (!everShown_) {
        const int columns = columnsFor(tileCount());
        const int rows = (std::max(1, tileCount()) + columns - 1) / columns;
        resize(columns * 186 + 12, rows * 266 + 12);
    }
}

void UnitsWindow::showEvent(QShowEvent* e) {
    everShown_ = true;
    QWidget::showEvent(e);
}

void UnitsWindow::placeTiles() {
    const int n = tileCount();
    const int columns = columnsFor(n);
    for (int i = 0; i < n; ++i) {
        grid_->addWidget(tiles_[static_cast<std::size_t>(i)], i / columns, i % columns);
    }
}

} // namespace qx::units
