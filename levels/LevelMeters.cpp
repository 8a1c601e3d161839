// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/LevelMeters.h"

#include "controls/ReadOnlyAccessibleText.h"
#include "levels/LevelHistoryWindow.h"
#include "levels/LevelScale.h"
#include "levels/LevelText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace qx::levels {

namespace {

// The meter as a screen reader sees it: a level bar (the role of a progress bar, the nearest one
// a reader knows) named after its side, whose value is the reading in dB between the lowest
// reading and the top of the table, and whose text is the whole sentence ("Left level -22 dB,
// peak -16 dB, over"). The text is read-only: no caret, no selection.
class MeterAccessible : public QAccessibleWidget,
                        public QAccessibleValueInterface,
                        public ReadOnlyAccessibleText {
public:
    explicit MeterAccessible(MeterBar* w) : QAccessibleWidget(w, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        if (t == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(
                static_cast<ReadOnlyAccessibleText*>(this));
        }
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return bar()->valueText();
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }

    // QAccessibleValueInterface
    QVariant currentValue() const override { return bar()->valueDb(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return *levelDb(kOverLevel); }
    QVariant minimumValue() const override { return *levelDb(kLowestBarLevel); }
    QVariant minimumStepSize() const override { return 0.1; }

    QString readOnlyText() const override {
        return bar()->accessibleName() + QLatin1Char(' ') + bar()->valueText();
    }

private:
    const MeterBar* bar() const { return static_cast<const MeterBar*>(widget()); }
};

QAccessibleInterface* meterAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("qx::levels::MeterBar") && object->isWidgetType()) {
        return new MeterAccessible(static_cast<MeterBar*>(object));
    }
    return nullptr;
}

const QColor kOverColour(220, 0, 0);
const QColor kMarkerColour(255, 255, 255);
// While the readings are stale (the reading label greyed) the marker is too.
const QColor kStaleMarkerColour(180, 180, 180);

} // namespace

Instant systemNow() {
    return {PeakHold::Clock::now(), OverLatch::WallClock::now()};
}

int64_t toMs(PeakHold::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

int64_t toMs(OverLatch::WallClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// ---- MeterBar ---------------------------------------------------------------------------------

MeterBar::MeterBar(LevelMeters& meters, int channel, const QRect& bar, const QPixmap& barPicture,
                   const QRect& background, const QPixmap& backgroundPicture, QWidget* parent)
    : QWidget(parent), meters_(meters), channel_(channel), bar_(barPicture),
      background_(backgroundPicture), barWidth_(bar.width()) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(meterAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    const QRect box = bar.united(background);
    setGeometry(box);
    barBox_ = bar.translated(-box.topLeft());
    backgroundBox_ = background.translated(-box.topLeft());
    besideBackground_ = QRegion(rect()).subtracted(backgroundBox_);
    // Every pixel is drawn here: a repaint needs nothing beneath, and Qt paints this widget
    // alone instead of the window's widgets that lie under the changed strip.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

QRect MeterBar::strip(int from, int to) const {
    return {barBox_.x() + std::min(from, to), barBox_.y(), std::abs(to - from), barBox_.height()};
}

void MeterBar::setBarWidth(int width) {
    width = std::clamp(width, 0, barBox_.width());
    if (width == barWidth_) {
        return;
    }
    update(strip(barWidth_, width));
    barWidth_ = width;
}

void MeterBar::setStale(bool stale) {
    if (stale == stale_) {
        return;
    }
    stale_ = stale;
    update();
}

void MeterBar::setMarkerX(std::optional<int> x) {
    if (x == markerX_) {
        return;
    }
    // Only where the marker was and where it is now.
    for (const std::optional<int>& at : {markerX_, x}) {
        if (at) {
            update(strip(*at, *at + LevelMeters::kMarkerWidth));
        }
    }
    markerX_ = x;
}

double MeterBar::valueDb() const {
    return levelDb(meters_.level(channel_)).value_or(*levelDb(kLowestBarLevel));
}

QString MeterBar::valueText() const {
    const QString sentence = meters_.sentence(channel_);
    const QString name = accessibleName() + QLatin1Char(' ');
    return sentence.startsWith(name) ? sentence.mid(name.size()) : sentence;
}

QBrush MeterBar::panelBrush() const {
    for (const QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (w->autoFillBackground() || w->isWindow()) {
            return w->palette().brush(w->backgroundRole());
        }
    }
    return palette().brush(QPalette::Window);
}

void MeterBar::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    if (e->region().intersects(besideBackground_)) {
        for (const QRect& r : besideBackground_) {
            p.fillRect(r, panelBrush());
        }
    }
    // Both pictures are drawn as a picture label draws them: from the top left of their box, cut
    // at its edges, greyed by the style while disabled (the bar also while stale), and at a scale
    // other than 1 first scaled smoothly to the screen's pixels.
    const auto greyed = [this](const QPixmap& picture) {
        QStyleOption opt;
        opt.initFrom(this);
        opt.state &= ~QStyle::State_Enabled;
        opt.palette.setCurrentColorGroup(QPalette::Disabled);
        return style()->generatedIconPixmap(QIcon::Disabled, picture, &opt);
    };
    const qreal ratio = devicePixelRatioF();
    if (ratio != scaledFor_) {
        const auto scaled = [ratio](const QPixmap& picture) {
            if (ratio == 1.0) {
                return picture;
            }
            QPixmap shown = picture.scaled(picture.size() * ratio, Qt::IgnoreAspectRatio,
                                           Qt::SmoothTransformation);
            shown.setDevicePixelRatio(ratio);
            return shown;
        };
        scaledBar_ = scaled(bar_);
        scaledBackground_ = scaled(background_);
        scaledFor_ = ratio;
    }
    const auto drawCut = [this, &p, &greyed, ratio](const QRect& box, const QPixmap& picture,
                                                    bool grey) {
        if (ratio == 1.0 && !grey) {
            // The same pixels, without the clip and the style's detour.
            p.drawPixmap(box.topLeft(), picture, QRect(QPoint(0, 0), box.size()));
            return;
        }
        p.setClipRect(box);
        style()->drawItemPixmap(&p, box, Qt::AlignLeft | Qt::AlignTop,
                                grey ? greyed(picture) : picture);
        p.setClipping(false);
    };
    drawCut(backgroundBox_, scaledBackground_, !isEnabled());
    if (barWidth_ > 0) {
        drawCut(QRect(barBox_.topLeft(), QSize(barWidth_, barBox_.height())), scaledBar_,
                !isEnabled() || stale_);
    }
    if (markerX_) {
        p.fillRect(barBox_.x() + *markerX_, barBox_.y(), LevelMeters::kMarkerWidth,
                   barBox_.height(),
                   meters_.readingEnabled(channel_) ? kMarkerColour : kStaleMarkerColour);
    }
    if (hasFocus() && keyboardFocus_) {
        QPen pen(Qt::black, 1, Qt::DotLine);
        p.setPen(pen);
        p.drawRect(barBox_.adjusted(0, 0, -1, -1));
    }
}

void MeterBar::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        meters_.clearOver(channel_);
    }
    QWidget::mousePressEvent(e);
}

void MeterBar::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        meters_.clearOver(channel_);
        return;
    }
    QWidget::keyPressEvent(e);
}

void MeterBar::focusInEvent(QFocusEvent* e) {
    // Marked only when reached from the keyboard, so the window opens looking as before even
    // though the bars come first in the tab order.
    keyboardFocus_ = e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason ||
                     e->reason() == Qt::ShortcutFocusReason;
    update();
    QWidget::focusInEvent(e);
}

void MeterBar::focusOutEvent(QFocusEvent* e) {
    update();
    QWidget::focusOutEvent(e);
}

// ---- LevelMeters ------------------------------------------------------------------------------

LevelMeters::LevelMeters(QWidget* panel, const Meter& left, const Meter& right) : QObject(panel) {
    const Meter meters[] = {left, right};
    for (int ch = 0; ch < 2; ++ch) {
        Channel& c = channels_[static_cast<std::size_t>(ch)];
        const Meter& m = meters[ch];
        c.side = m.side;
        c.label = m.label;
        c.meter = new MeterBar(*this, ch, m.barBox, m.bar, m.backgroundBox, m.background, panel);
        c.meter->setObjectName(m.side.toLower() + QStringLiteral("Meter"));
        c.meter->setAccessibleName(m.side + QStringLiteral(" level"));
        c.meter->setAccessibleDescription(QStringLiteral("Click or press Space to clear an over"));
        c.meter->raise();
        c.meter->show();
        c.label->installEventFilter(this);
    }
}

std::size_t LevelMeters::channelIndex(int channel) {
    if (channel != kLeft && channel != kRight) {
        throw std::out_of_range("meter channel");
    }
    return static_cast<std::size_t>(channel);
}

MeterBar* LevelMeters::meter(int channel) const {
    return channels_.at(channelIndex(channel)).meter;
}

std::optional<double> LevelMeters::peakDb(int channel) const {
    return memory_->channels.at(channelIndex(channel)).peakDb;
}

void LevelMeters::show(int left, int right) {
    const Instant t = now_();
    const std::array<bool, 2> overBegan = memory_->note(left, right, t.mono, t.wall);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        Channel& c = channels_[ch];
        showMarker(ch);
        if (memory_->channels[ch].latch.latched()) {
            showLatch(c);
        }
        updateAccessibleValue(c, t.mono,
                              overBegan[ch] ? ReadingAnnouncer::Urgency::Now
                                            : ReadingAnnouncer::Urgency::Routine);
    }
    emit historyChanged();
}

void LevelMeters::showMarker(std::size_t ch) {
    const ChannelMemory& m = memory_->channels[ch];
    std::optional<int> x;
    if (m.peakDb) {
        const double end = barPosition(levelForDb(*m.peakDb));
        const int box = channels_[ch].meter->barBox().width();
        // The marker ends where the bar would end, inside the box.
        x = std::clamp(static_cast<int>(std::lround(end)) - kMarkerWidth, 0, box - kMarkerWidth);
    }
    channels_[ch].meter->setMarkerX(x);
}

void LevelMeters::setUnitName(const QString& name) {
    unitName_ = name;
    if (historyWindow_ != nullptr) {
        const QString caption = QStringLiteral("Level history");
        historyWindow_->setWindowTitle(
            name.isEmpty() ? caption : caption + QStringLiteral(" \u2014 ") + name);
    }
}

void LevelMeters::attachMemory(LevelMemory* memory) {
    memory_ = memory != nullptr ? memory : &own_;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        showMarker(ch);
        showLatch(channels_[ch]);
        channels_[ch].meter->update();
    }
    emit historyChanged();
}

void LevelMeters::clearOver(int channel) {
    Channel& c = channels_.at(channelIndex(channel));
    OverLatch& latch = memory_->channels.at(channelIndex(channel)).latch;
    if (!latch.latched()) {
        return;
    }
    latch.clear();
    showLatch(c);
    updateAccessibleValue(c, now_().mono, ReadingAnnouncer::Urgency::Now);
}

void LevelMeters::showHistory(QWidget* owner, Dialogs& dialogs) {
    if (historyWindow_ == nullptr) {
        historyWindow_ = new LevelHistoryWindow(*this, dialogs, owner);
        setUnitName(unitName_);
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

QString LevelMeters::sentence(int channel) const {
    const Channel& c = channels_.at(channelIndex(channel));
    const ChannelMemory& m = memory_->channels.at(channelIndex(channel));
    return QString::fromStdString(
        meterSentence(c.side.toStdString(), m.level, m.peakDb, m.latch.latched()));
}

QString LevelMeters::overToolTip(int channel) const {
    const OverLatch& latch = memory_->channels.at(channelIndex(channel)).latch;
    if (!latch.latched()) {
        return {};
    }
    // hh:mm:ss.zzz of the local time.
    const auto clock = [](OverLatch::WallClock::time_point t) {
        return QString::fromStdString(isoLocalTime(toMs(t)).substr(11, 12));
    };
    QString text = QStringLiteral("Over at %1").arg(clock(*latch.first()));
    if (latch.count() > 1) {
        text += QStringLiteral(", last at %1 (%2 readings over)")
                    .arg(clock(*latch.last()))
                    .arg(latch.count());
    }
    return text + QStringLiteral("\nClick to clear");
}

void LevelMeters::showLatch(Channel& c) {
    const QString tip = overToolTip(c.meter->channel());
    if (c.label->toolTip() != tip) {
        c.label->setToolTip(tip);
        c.meter->setToolTip(tip);
    }
    const bool latched =
        memory_->channels[static_cast<std::size_t>(c.meter->channel())].latch.latched();
    if (latched == c.shownRed) {
        return;
    }
    c.shownRed = latched;
    if (c.shownRed) {
        // Kept to be put back as it was, explicit roles included.
        c.labelPalette = c.label->palette();
        QPalette red = c.labelPalette;
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            red.setColor(group, QPalette::WindowText, kOverColour);
        }
        c.label->setPalette(red);
    } else {
        c.label->setPalette(c.labelPalette);
    }
}

void LevelMeters::updateAccessibleValue(Channel& c, PeakHold::Clock::time_point now,
                                        ReadingAnnouncer::Urgency urgency) {
    if (c.announcer.holdsBack(now, urgency) ||
        !c.announcer.due(now, c.meter->valueText().toStdString(), urgency)) {
        return;
    }
    emit readingTold(c.meter->channel());
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent ev(c.meter, c.meter->valueDb());
        QAccessible::updateAccessibility(&ev);
    }
}

bool LevelMeters::readingEnabled(int channel) const {
    return channels_.at(channelIndex(channel)).label->isEnabled();
}

bool LevelMeters::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::EnabledChange) {
        for (const Channel& c : channels_) {
            if (watched == c.label) {
                c.meter->update();
            }
        }
    }
    if (e->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        for (std::size_t ch = 0; ch < 2; ++ch) {
            if (watched == channels_[ch].label) {
                clearOver(static_cast<int>(ch));
            }
        }
    }
    return QObject::eventFilter(watched, e);
}

} // namespace qx::levels
