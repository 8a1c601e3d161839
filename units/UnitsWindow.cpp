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
    if (ch[0].latch.latched() || ch[1].latch.latched()) {
        text += QStringLiteral(", over latched; press Space to clear");
    }
    setAccessibleDescription(text);
    update();
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

    // The name takes a tenth of the height, the state word and the readings a little less.
    QFont nameFont = font();
    nameFont.setBold(true);
    nameFont.setPixelSize(std::max(11, r.height() / 11));
    QFont smallFont = font();
    smallFont.setPixelSize(std::max(10, r.height() / 16));
    const int nameHeight = QFontMetrics(nameFont).height();
    const int smallHeight = QFontMetrics(smallFont).height();

    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(nameFont);
    const QRect nameBox(r.left() + 6, r.top() + 4, r.width() - 12, nameHeight);
    p.drawText(nameBox, Qt::AlignHCenter | Qt::AlignVCenter,
               QFontMetrics(nameFont).elidedText(QString::fromStdString(u.name()), Qt::ElideRight,
                                                 nameBox.width()));
    p.setFont(smallFont);
    const QRect stateBox(nameBox.left(), nameBox.bottom() + 2, nameBox.width(), smallHeight);
    p.drawText(stateBox, Qt::AlignHCenter | Qt::AlignVCenter,
               QString::fromLatin1(room::stateWord(u.state())));

    const QRect meters(r.left() + 8, stateBox.bottom() + 6, r.width() - 16,
                       r.bottom() - stateBox.bottom() - 12 - smallHeight);
    if (meters.height() < 10) {
        return;
    }
    const auto& ch = u.levels().channels;
    const bool live = u.link().connected && !u.link().bootMode;
    const int gap = std::max(6, meters.width() / 10);
    const int barWidth = (meters.width() - gap) / 2;
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
        const QRect readingBox(trough.left(), trough.bottom() + 2, trough.width(), smallHeight);
        p.drawText(readingBox, Qt::AlignHCenter | Qt::AlignVCenter,
                   live ? QString::fromLatin1(sides[c]) + QStringLiteral(" ") + readingText(m)
                        : QString::fromLatin1(sides[c]));
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
            tile(index)->update();
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
    resize(std::max(1, tileCount()) * 190 + 12, 300);
}

void UnitsWindow::addTiles() {
    while (tileCount() < room_.count()) {
        tiles_.push_back(new UnitTile(room_, tileCount(), this));
    }
    placeTiles();
}

void UnitsWindow::placeTiles() {
    // One row up to four units, then as square a grid as it takes.
    const int n = tileCount();
    const int columns = n <= 4 ? std::max(1, n) : static_cast<int>(std::ceil(std::sqrt(n)));
    for (int i = 0; i < n; ++i) {
        grid_->addWidget(tiles_[static_cast<std::size_t>(i)], i / columns, i % columns);
    }
}

} // namespace qx::units
