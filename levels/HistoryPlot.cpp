// SPDX-License-Identifier: GPL-3.0-or-later
#include "levels/HistoryPlot.h"

#include "levels/LevelScale.h"
#include "levels/LevelText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>

namespace qx::levels {

namespace {

const QColor kBackground(250, 250, 250);
const QColor kGrid(220, 220, 220);
const QColor kZeroLine(230, 130, 0);
const QColor kOverBand(255, 215, 215);
const QColor kOverMark(220, 0, 0);
const QColor kGapFill(200, 200, 200);
const QColor kText(40, 40, 40);
const std::array<QColor, 2> kChannelColour = {QColor(0, 110, 210), QColor(0, 150, 70)};

constexpr int kLeftMargin = 40;
constexpr int kRightMargin = 8;
// Room for the legend and, below it, the over marks.
constexpr int kTopMargin = 34;
constexpr int kBottomMargin = 20;
// The lowest level drawn: the one without a bar.
constexpr int kBottomLevel = -36;
// dB labels, as level steps.
constexpr std::array<int, 10> kLabelledLevels = {-35, -29, -24, -19, -14, -10, -6, 0, 7, 13};

int levelY(const QRect& area, double level) {
    const double f = (level - kBottomLevel) / double(kOverLevel - kBottomLevel);
    return area.bottom() - static_cast<int>(std::lround(f * (area.height() - 1)));
}

struct Frame {
    QRect area; // the plotting area inside the margins
    int64_t startMs;
    int64_t endMs;

    int y(double level) const { return levelY(area, level); }
    int x(int64_t ms) const {
        return area.left() + static_cast<int>((ms - startMs) * area.width() / (endMs - startMs));
    }
};

int64_t ms(const Instant& t) {
    return toMs(t.mono);
}

// Wall time in ms of a steady time, by the offset between the two clocks now.
int64_t wallOf(int64_t monoMs, const Instant& now) {
    return monoMs + (toMs(now.wall) - toMs(now.mono));
}

QString clockText(int64_t wallMs, bool withMs = false) {
    return QString::fromStdString(isoLocalTime(wallMs).substr(11, withMs ? 12 : 8));
}

// A tick spacing that leaves at least `minPixels` between labels.
int64_t tickSpacing(int64_t spanMs, int width, int minPixels) {
    static constexpr std::array<int64_t, 10> steps = {1'000,  2'000,  5'000,   10'000,  15'000,
                                                      30'000, 60'000, 120'000, 300'000, 600'000};
    for (const int64_t s : steps) {
        if (s * width >= spanMs * minPixels) {
            return s;
        }
    }
    return steps.back();
}

void drawScale(QPainter& p, const Frame& f) {
    // The over region: the reading "8", above "7.4".
    const int overTop = f.y(kOverLevel);
    const int overBottom = f.y(kOverLevel - 0.5);
    p.fillRect(QRect(f.area.left(), overTop, f.area.width(), overBottom - overTop + 1), kOverBand);
    p.setPen(kText);
    const QFontMetrics fm = p.fontMetrics();
    for (const int level : kLabelledLevels) {
        const int y = f.y(level);
        p.setPen(level == 0 ? QPen(kZeroLine, 1) : QPen(kGrid, 1));
        p.drawLine(f.area.left(), y, f.area.right(), y);
        p.setPen(kText);
        p.drawText(levelLabelRect(f.area, level, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   plotReading(level));
    }
    p.drawText(unitLabelRect(f.area, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("dB"));
}

void drawTimeAxis(QPainter& p, const Frame& f, const Instant& now) {
    const QFontMetrics fm = p.fontMetrics();
    const int64_t spacing = tickSpacing(f.endMs - f.startMs, f.area.width(),
                                        fm.horizontalAdvance(QStringLiteral("00:00:00")) + 16);
    // Ticks on whole multiples of the spacing in wall time, so labels read as round times.
    const int64_t offset = wallOf(0, now);
    int64_t wall = (wallOf(f.startMs, now) / spacing + 1) * spacing;
    for (; wall - offset <= f.endMs; wall += spacing) {
        const int x = f.x(wall - offset);
        p.setPen(kGrid);
        p.drawLine(x, f.area.top(), x, f.area.bottom());
        p.setPen(kText);
        const QString text = clockText(wall);
        const int w = fm.horizontalAdvance(text);
        p.drawText(QRect(x - w / 2, f.area.bottom() + 3, w, fm.height()), Qt::AlignCenter, text);
    }
}

struct Highest {
    bool has = false;
    int8_t level = 0;
    int x = 0;
};

void drawChannels(QPainter& p, const Frame& f, const std::vector<HistoryColumn>& columns,
                  std::array<Highest, 2>& highest, std::array<int, 2>& overs) {
    // Joins between columns apart as lines; each column's span of readings as a one pixel wide
    // rectangle, which the raster engine fills far faster than it strokes a line.
    QVector<QLine> lines[2];
    QVector<QRect> spans[2];
    for (int k = 0; k < 2; ++k) {
        spans[k].reserve(static_cast<qsizetype>(columns.size()));
    }
    std::array<int, 2> previousX = {-1, -1};
    std::array<int, 2> previousY = {0, 0};
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const HistoryColumn& col = columns[c];
        const int x = f.area.left() + static_cast<int>(c);
        if (col.gap) {
            p.fillRect(QRect(x, f.area.top(), 1, f.area.height()), kGapFill);
        }
        const ChannelColumn* ch[2] = {&col.left, &col.right};
        for (int k = 0; k < 2; ++k) {
            if (col.breakBefore) {
                previousX[k] = -1;
            }
            if (!ch[k]->has) {
                continue;
            }
            const int yFirst = f.y(std::max<int>(ch[k]->first, kBottomLevel));
            int yLow = f.y(std::max<int>(ch[k]->min, kBottomLevel));
            int yHigh = f.y(std::max<int>(ch[k]->max, kBottomLevel));
            if (previousX[k] == x - 1) {
                // From the column next door the join is vertical too: one span draws both,
                // which halves the lines of a dense (zoomed out) plot.
                yLow = std::max(yLow, previousY[k]);
                yHigh = std::min(yHigh, previousY[k]);
            } else if (previousX[k] >= 0) {
                lines[k].append(QLine(previousX[k], previousY[k], x, yFirst));
            }
            spans[k].append(QRect(x, yHigh, 1, yLow - yHigh + 1));
            previousX[k] = x;
            previousY[k] = f.y(std::max<int>(ch[k]->last, kBottomLevel));
            if (!highest[k].has || ch[k]->max > highest[k].level) {
                highest[k] = {true, ch[k]->max, x};
            }
            if (ch[k]->over) {
                ++overs[k];
            }
        }
        if (col.left.over || col.right.over) {
            // Overs stand above the plot, left channel over right, so none hides in the line.
            if (col.left.over) {
                p.fillRect(QRect(x - 1, f.area.top() - 12, 3, 5), kOverMark);
            }
            if (col.right.over) {
                p.fillRect(QRect(x - 1, f.area.top() - 6, 3, 5), kOverMark);
            }
        }
    }
    for (int k = 0; k < 2; ++k) {
        const QColor& colour = kChannelColour[static_cast<std::size_t>(k)];
        p.setPen(QPen(colour, 0));
        p.drawLines(lines[k]);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawRects(spans[k]);
        p.setBrush(Qt::NoBrush);
    }
}

} // namespace

void paintHistory(QPainter& p, const QRect& bounds, const LevelRing& ring, const HistoryView& view,
                  const Instant& now) {
    p.fillRect(bounds, kBackground);
    const QRect area = bounds.adjusted(kLeftMargin, kTopMargin, -kRightMargin, -kBottomMargin);
    if (area.width() < 2 || area.height() < 2) {
        return;
    }
    const Frame f{area, view.startMs(ms(now)), view.endMs(ms(now))};
    p.save();
    drawScale(p, f);
    drawTimeAxis(p, f, now);
    const std::vector<HistoryColumn> columns =
        gatherColumns(ring, f.startMs, f.endMs, area.width(), ms(now));
    std::array<Highest, 2> highest{};
    std::array<int, 2> overs{};
    drawChannels(p, f, columns, highest, overs);

    // The legend names the channels with their highest reading in view, which is also marked.
    const QFontMetrics fm = p.fontMetrics();
    int legendX = area.left();
    static const char* const names[2] = {"Left", "Right"};
    for (std::size_t k = 0; k < 2; ++k) {
        QString text = QString::fromLatin1(names[k]);
        if (highest[k].has) {
            const int y = f.y(std::max<int>(highest[k].level, kBottomLevel));
            p.setPen(QPen(kChannelColour[k], 1));
            p.drawEllipse(QPoint(highest[k].x, y), 3, 3);
            text += QStringLiteral(" peak %1 dB").arg(plotReading(highest[k].level));
        }
        p.fillRect(QRect(legendX, 2 + fm.ascent() / 2, 10, 3), kChannelColour[k]);
        p.setPen(kText);
        p.drawText(QPoint(legendX + 14, 2 + fm.ascent()), text);
        legendX += 14 + fm.horizontalAdvance(text) + 16;
    }
    // And the marks: an over above the plot, a stretch without readings inside it.
    const int swatchTop = 2 + fm.ascent() / 2 - 2;
    p.fillRect(QRect(legendX, swatchTop, 3, 5), kOverMark);
    p.setPen(kText);
    const QString over = QStringLiteral("over");
    p.drawText(QPoint(legendX + 7, 2 + fm.ascent()), over);
    legendX += 7 + fm.horizontalAdvance(over) + 16;
    p.fillRect(QRect(legendX, 2, 8, fm.ascent()), kGapFill);
    p.drawText(QPoint(legendX + 12, 2 + fm.ascent()), QStringLiteral("no readings"));
    p.setPen(QPen(kText, 1));
    p.drawRect(area.adjusted(0, 0, -1, -1));
    p.restore();
}

QString plotReading(int level) {
    const QString text = QString::fromStdString(readingText(level));
    return level > 0 && !text.isEmpty() ? QLatin1Char('+') + text : text;
}

QRect unitLabelRect(const QRect& area, int textHeight) {
    // Clear of the top level's label, which is centred on the area's top edge.
    const int bottom = area.top() - textHeight / 2 - 2;
    return QRect(0, bottom - textHeight, kLeftMargin - 6, textHeight);
}

QRect levelLabelRect(const QRect& area, int level, int textHeight) {
    return QRect(0, levelY(area, level) - textHeight / 2, kLeftMargin - 6, textHeight);
}

HistoryCaption historyCaption(const QString& unit, const HistoryView& view, const Instant& now) {
    // "2026-12-10T15:40:27.300+01:00": date, time to the second, offset.
    const auto parts = [](int64_t wallMs) {
        const QString iso = QString::fromStdString(isoLocalTime(wallMs));
        return std::array<QString, 3>{iso.left(10), iso.mid(11, 8), iso.mid(23)};
    };
    const auto start = parts(wallOf(view.startMs(ms(now)), now));
    const auto end = parts(wallOf(view.endMs(ms(now)), now));
    const QString endText = end[0] == start[0] ? end[1] : end[0] + QLatin1Char(' ') + end[1];
    HistoryCaption c;
    c.unit = unit;
    c.range = QStringLiteral("%1 %2 to %3 (UTC%4)").arg(start[0], start[1], endText, end[2]);
    return c;
}

QImage historyImage(const QSize& plotSize, const QFont& font, const QString& unit,
                    const LevelRing& ring, const HistoryView& view, const Instant& now) {
    const HistoryCaption caption = historyCaption(unit, view, now);
    const QFontMetrics fm(font);
    const int line = fm.height() + 2;
    const int band = 6 + 2 * line;
    QImage img(plotSize.width(), plotSize.height() + band, QImage::Format_RGB32);
    QPainter p(&img);
    p.setFont(font);
    p.fillRect(QRect(0, 0, img.width(), band), kBackground);
    p.setPen(kText);
    const QRect text(kLeftMargin, 4, img.width() - kLeftMargin - kRightMargin, line);
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
               caption.unit.isEmpty() ? QStringLiteral("Level history")
                                      : QStringLiteral("Level history of %1").arg(caption.unit));
    p.setFont(font);
    p.drawText(text.translated(0, line), Qt::AlignLeft | Qt::AlignVCenter, caption.range);
    // The plot draws from the painter's origin.
    p.translate(0, band);
    paintHistory(p, QRect(QPoint(0, 0), plotSize), ring, view, now);
    return img;
}

QString historySummary(const LevelRing& ring, const HistoryView& view, const Instant& now) {
    const int64_t end = view.endMs(ms(now));
    const int64_t start = view.startMs(ms(now));
    QString text = QStringLiteral("%1 to %2")
                       .arg(clockText(wallOf(start, now)),
                            view.live() ? QStringLiteral("now") : clockText(wallOf(end, now)));
    std::array<std::optional<int8_t>, 2> highest;
    std::array<int, 2> overs{};
    int gaps = 0;
    for (std::size_t i = ring.lowerBound(start); i < ring.size() && ring[i].monoMs < end; ++i) {
        const LevelSample& s = ring[i];
        const int8_t levels[2] = {s.left, s.right};
        for (std::size_t k = 0; k < 2; ++k) {
            highest[k] = std::max(highest[k].value_or(levels[k]), levels[k]);
            overs[k] += levels[k] == kOverLevel ? 1 : 0;
        }
        gaps += ring.gapBefore(i) ? 1 : 0;
    }
    static const char* const names[2] = {"left", "right"};
    for (std::size_t k = 0; k < 2; ++k) {
        text += QStringLiteral(", %1 ").arg(QLatin1String(names[k]));
        if (!highest[k]) {
            text += QStringLiteral("no readings");
            continue;
        }
        text += QStringLiteral("peak %1 dB").arg(QString::fromStdString(readingText(*highest[k])));
        if (overs[k] > 0) {
            text += QStringLiteral(" with %1 over%2")
                        .arg(overs[k])
                        .arg(overs[k] == 1 ? QString() : QStringLiteral("s"));
        }
    }
    if (gaps > 0) {
        text +=
            QStringLiteral(", %1 gap%2").arg(gaps).arg(gaps == 1 ? QString() : QStringLiteral("s"));
    }
    return text;
}

// ---- HistoryPlot ------------------------------------------------------------------------------

namespace {

class PlotAccessible : public QAccessibleWidget {
public:
    explicit PlotAccessible(HistoryPlot* w) : QAccessibleWidget(w, QAccessible::Chart) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            const auto* plot = static_cast<const HistoryPlot*>(widget());
            return historySummary(plot->ring(), plot->view(), plot->now());
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* plotAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("qx::levels::HistoryPlot") && object->isWidgetType()) {
        return new PlotAccessible(static_cast<HistoryPlot*>(object));
    }
    return nullptr;
}

} // namespace

HistoryPlot::HistoryPlot(const LevelRing& ring, TimeSource now, QWidget* parent)
    : QWidget(parent), ring_(ring), now_(std::move(now)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(plotAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    setObjectName(QStringLiteral("historyPlot"));
    setAccessibleName(QStringLiteral("Level history plot"));
    setAccessibleDescription(QStringLiteral(
        "Left and Right arrows scroll, Plus and Minus zoom, Home goes to the oldest reading, "
        "End follows the newest"));
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(240, 140);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int64_t HistoryPlot::oldestMs() const {
    return ring_.empty() ? toMs(now_().mono) : ring_[0].monoMs;
}

void HistoryPlot::changed() {
    update();
    emit viewChanged();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent ev(this, historySummary(ring_, view_, now_()));
        QAccessible::updateAccessibility(&ev);
    }
}

void HistoryPlot::zoomIn() {
    view_.zoom(0.5);
    changed();
}

void HistoryPlot::zoomOut() {
    view_.zoom(2.0);
    changed();
}

void HistoryPlot::scrollBy(int64_t ms) {
    view_.scrollBy(ms, toMs(now_().mono), oldestMs());
    changed();
}

void HistoryPlot::scrollTo(int64_t endMs) {
    view_.scrollTo(endMs, toMs(now_().mono), oldestMs());
    changed();
}

void HistoryPlot::follow() {
    view_.follow();
    changed();
}

QImage HistoryPlot::image(const QString& unit) const {
    return historyImage(size(), font(), unit, ring_, view_, now_());
}

void HistoryPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintHistory(p, rect(), ring_, view_, now_());
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void HistoryPlot::keyPressEvent(QKeyEvent* e) {
    const int64_t step = view_.spanMs() / 10;
    switch (e->key()) {
    case Qt::Key_Left:
        scrollBy(-step);
        break;
    case Qt::Key_Right:
        scrollBy(step);
        break;
    case Qt::Key_PageUp:
        scrollBy(-view_.spanMs());
        break;
    case Qt::Key_PageDown:
        scrollBy(view_.spanMs());
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomIn();
        break;
    case Qt::Key_Minus:
        zoomOut();
        break;
    case Qt::Key_Home:
        scrollTo(oldestMs());
        break;
    case Qt::Key_End:
        follow();
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}

void HistoryPlot::wheelEvent(QWheelEvent* e) {
    const int delta = e->angleDelta().y();
    if (delta == 0) {
        e->ignore();
        return;
    }
    // Ctrl with the wheel zooms; the wheel alone scrolls a tenth of the view per notch.
    if (e->modifiers() & Qt::ControlModifier) {
        delta > 0 ? zoomIn() : zoomOut();
    } else {
        scrollBy(-delta / 120 * view_.spanMs() / 10);
    }
    e->accept();
}

} // namespace qx::levels
