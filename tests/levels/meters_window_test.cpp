// SPDX-License-Identifier: GPL-3.0-or-later
// The meters' memory on the main window: peak markers in the bar boxes, the over latch on the
// reading labels, and what a screen reader is told, on a fake clock.
#include "levels/LevelHistoryWindow.h"
#include "levels/LevelMeters.h"
#include "panel/umain.h"
#include "tests/panel/ScriptedDialogs.h"
#include "update/uu.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace qx {
namespace {

using levels::LevelMeters;

// 2026-12-10 15:42:07.300 UTC.
constexpr int64_t kWallStart = 1'796'917'327'300;

struct MetersOnWindow : ::testing::Test {
    LinkState link;
    test::ScriptedDialogs dialogs;
    Tfu tfu{link, dialogs};
    Tfmain w{link, tfu, dialogs};
    levels::Instant clock{
        levels::PeakHold::Clock::time_point(std::chrono::hours(3)),
        levels::OverLatch::WallClock::time_point(std::chrono::milliseconds(kWallStart))};

    static void SetUpTestSuite() {
        setenv("TZ", "UTC0", 1);
        tzset();
    }

    void SetUp() override {
        w.Cont(true);
        w.levelMeters()->setTimeSource([this] { return clock; });
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    }

    void advance(int ms) {
        clock.mono += std::chrono::milliseconds(ms);
        clock.wall += std::chrono::milliseconds(ms);
    }

    void answer(int8_t left, int8_t right = -40) {
        std::array<uint8_t, kAnswerPayloadSize> a{};
        const DeviceSettings s = factoryDefaults();
        std::memcpy(a.data(), &s, kSettingsSize);
        a[kSettingsSize] = static_cast<uint8_t>(left);
        a[kSettingsSize + 1] = static_cast<uint8_t>(right);
        ASSERT_TRUE(link.storeAnswer(false, a));
        w.refresh();
    }

    bool red(const QLabel* l) const {
        return l->palette().color(QPalette::WindowText) == QColor(220, 0, 0);
    }
    LevelMeters& meters() { return *w.levelMeters(); }
};

TEST_F(MetersOnWindow, PeakMarkerHoldsThenFallsInsideTheBarBox) {
    struct Step {
        int afterMs;
        int8_t level;
        std::optional<int> markerX; // left edge of the 2-pixel marker in the 154-pixel box
    };
    // Level 0 ends the bar at 115.5 pixels; level 12 fills the box; below -35 nothing holds.
    const Step steps[] = {
        {0, 0, 114},
        {100, -30, 114},
        {1900, -30, 114}, // held for two seconds
        {850, -30, 69},   // 10 dB lower: the reading of -14
        {850, -30, 53},   // 20 dB lower: the reading of -19
        {2000, -30, 17},  // stopped by the readings of -30
        {100, 12, 152},
        {0, 13, 152},               // the over stays in the box
        {4000, -36, 60},            // 8 dB less 2 s of falling
        {5000, -128, std::nullopt}, // below the lowest reading
    };
    for (const Step& s : steps) {
        advance(s.afterMs);
        answer(s.level);
        EXPECT_EQ(meters().meter(LevelMeters::kLeft)->markerX(), s.markerX)
            << "level " << int(s.level) << " after " << s.afterMs;
    }
    QWidget* box = meters().meter(LevelMeters::kLeft);
    EXPECT_EQ(box->geometry(), QRect(5, 7, 154, 10));

    // The marker is white over the bar, and grey while the readings are greyed as stale.
    answer(0);
    const auto markerColour = [&] { return box->grab().toImage().pixelColor(115, 5); };
    EXPECT_EQ(markerColour(), QColor(255, 255, 255));
    w.levl->setEnabled(false);
    EXPECT_EQ(markerColour(), QColor(180, 180, 180));
    w.levl->setEnabled(true);
    // The right bar starts a pixel left of its background; the meter covers both.
    EXPECT_EQ(meters().meter(LevelMeters::kRight)->barBox(), QRect(0, 0, 154, 10));
    EXPECT_EQ(meters().meter(LevelMeters::kRight)->geometry(), QRect(4, 23, 155, 10));
}

TEST_F(MetersOnWindow, OverLatchStaysRedUntilAcknowledged) {
    struct Way {
        const char* name;
        std::function<void(Tfmain&, QWidget* bar)> clear;
    };
    const Way ways[] = {
        {"click on the reading",
         [](Tfmain& m, QWidget*) { QTest::mouseClick(m.levl, Qt::LeftButton); }},
        {"click on the bar", [](Tfmain&, QWidget* bar) { QTest::mouseClick(bar, Qt::LeftButton); }},
        {"Space on the focused bar",
         [](Tfmain&, QWidget* bar) {
             bar->setFocus();
             QTest::keyClick(bar, Qt::Key_Space);
         }},
        {"Return on the focused bar",
         [](Tfmain&, QWidget* bar) {
             bar->setFocus();
             QTest::keyClick(bar, Qt::Key_Return);
         }},
    };
    QWidget* bar = meters().meter(LevelMeters::kLeft);
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        advance(1000);
        answer(-10, -10);
        EXPECT_FALSE(red(w.levl));
        EXPECT_TRUE(w.levl->toolTip().isEmpty());

        advance(100);
        answer(13, 12);
        advance(100);
        answer(-30, -30);
        advance(200);
        answer(13, -30);
        advance(100);
        answer(-30, -30);
        EXPECT_TRUE(red(w.levl));
        EXPECT_FALSE(red(w.levr)) << "12 is not an over";
        EXPECT_EQ(w.levl->text(), QStringLiteral("-42"));
        EXPECT_TRUE(w.levl->toolTip().startsWith(QStringLiteral("Over at 15:42:")))
            << w.levl->toolTip().toStdString();
        EXPECT_TRUE(w.levl->toolTip().contains(QStringLiteral("2 readings over")));

        way.clear(w, bar);
        EXPECT_FALSE(red(w.levl));
        EXPECT_EQ(w.levl->palette().color(QPalette::WindowText),
                  w.lbl2->palette().color(QPalette::WindowText));
        EXPECT_TRUE(w.levl->toolTip().isEmpty());
        EXPECT_FALSE(meters().latch(LevelMeters::kLeft).latched());
    }
}

TEST_F(MetersOnWindow, TooltipSaysWhenTheOverHappened) {
    advance(2700); // 15:42:10.000
    answer(-20, 13);
    EXPECT_EQ(w.levr->toolTip(), QStringLiteral("Over at 15:42:10.000\nClick to clear"));
    advance(61'250);
    answer(13, 13);
    EXPECT_EQ(w.levr->toolTip(),
              QStringLiteral("Over at 15:42:10.000, last at 15:43:11.250 (2 readings over)\n"
                             "Click to clear"));
    EXPECT_EQ(w.levl->toolTip(), QStringLiteral("Over at 15:43:11.250\nClick to clear"));
}

TEST_F(MetersOnWindow, ScreenReaderNamesAndValues) {
    struct Step {
        int afterMs;
        int8_t left, right;
        const char* leftText;
        const char* rightText;
        double leftDb, rightDb;
    };
    const Step steps[] = {
        {0, -20, -128, "Left level -22 dB, peak -22 dB", "Right level -52 dB", -22, -52},
        {500, -30, -35, "Left level -42 dB, peak -22 dB", "Right level -52 dB, peak -52 dB", -42,
         -52},
        {100, 13, 2, "Left level 8 dB, peak 8 dB, over", "Right level 1 dB, peak 1 dB", 8, 1},
        {2100, -9, -9, "Left level -5.4 dB, peak 6.8 dB, over", "Right level -5.4 dB, peak -0.2 dB",
         -5.4, -5.4},
    };
    for (const Step& s : steps) {
        advance(s.afterMs);
        answer(s.left, s.right);
        for (const auto& [ch, text, db] :
             {std::tuple{LevelMeters::kLeft, s.leftText, s.leftDb},
              std::tuple{LevelMeters::kRight, s.rightText, s.rightDb}}) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(meters().meter(ch));
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(a->text(QAccessible::Name) + QLatin1Char(' ') + a->text(QAccessible::Value),
                      QString::fromLatin1(text));
            EXPECT_EQ(meters().sentence(ch), QString::fromLatin1(text));
            // A level bar: a reader knows the role of a progress bar, with a number as its
            // value and the sentence as its text.
            EXPECT_EQ(a->role(), QAccessible::ProgressBar);
            ASSERT_NE(a->valueInterface(), nullptr);
            EXPECT_DOUBLE_EQ(a->valueInterface()->currentValue().toDouble(), db) << text;
            EXPECT_DOUBLE_EQ(a->valueInterface()->minimumValue().toDouble(), -52);
            EXPECT_DOUBLE_EQ(a->valueInterface()->maximumValue().toDouble(), 8);
            ASSERT_NE(a->textInterface(), nullptr);
            EXPECT_EQ(a->textInterface()->text(0, a->textInterface()->characterCount()),
                      QString::fromLatin1(text));
        }
    }
}

// Ten answers a second would make a screen reader speak nothing but the meters: a changed
// reading is told at most once a second, an over at once.
TEST_F(MetersOnWindow, ScreenReaderIsToldOfReadingsWithoutFlooding) {
    std::vector<QString> events;
    QObject::connect(&meters(), &LevelMeters::readingTold, &w, [&](int channel) {
        if (channel == LevelMeters::kLeft) {
            events.push_back(meters().meter(channel)->valueText());
        }
    });
    struct Step {
        int afterMs;
        int8_t left;
    };
    // Three seconds of a moving level at ten answers a second, then an over.
    std::vector<Step> steps;
    for (int i = 0; i < 30; ++i) {
        steps.push_back({100, static_cast<int8_t>(-30 + (i % 5))});
    }
    steps.push_back({100, 13});
    for (const Step& s : steps) {
        advance(s.afterMs);
        answer(s.left);
    }
    const std::size_t beforeOver = events.size();
    // Clearing the over is told at once too.
    meters().clearOver(LevelMeters::kLeft);

    // One a second for three seconds (the first at once), then the over, then its clearing.
    EXPECT_GE(beforeOver, 4U);
    EXPECT_LE(beforeOver, 5U);
    ASSERT_GE(events.size(), 2U);
    EXPECT_TRUE(events[beforeOver - 1].endsWith(QStringLiteral(", over")))
        << events[beforeOver - 1].toStdString();
    EXPECT_EQ(events.size(), beforeOver + 1);
    EXPECT_FALSE(events.back().endsWith(QStringLiteral(", over")));
}

TEST_F(MetersOnWindow, TheBarsComeFirstInTheTabOrder) {
    QWidget* left = meters().meter(LevelMeters::kLeft);
    left->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return left->hasFocus(); }));
    QTest::keyClick(&w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), meters().meter(LevelMeters::kRight));
    QTest::keyClick(&w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(w.rb_vu));
}

TEST_F(MetersOnWindow, EveryControlHasANameAndTheSpeedButtonsSayWhetherTheyAreOn) {
    for (QWidget* c : w.findChildren<QWidget*>()) {
        // The editor inside a spin box is spoken as part of the spin box, and a drop-down's
        // hidden list as part of the drop-down.
        if ((c->focusPolicy() == Qt::NoFocus && !c->inherits("THSSpeedButton")) ||
            c->parentWidget()->inherits("QAbstractSpinBox") || !c->isVisibleTo(&w)) {
            continue;
        }
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
        ASSERT_NE(a, nullptr);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty())
            << c->metaObject()->className() << " " << c->objectName().toStdString();
    }
    struct Case {
        QWidget* button;
        const char* name;
        const char* before;
        const char* after;
    };
    DeviceSettings s = factoryDefaults();
    s.preset = 0;
    s.muteOn = 0;
    s.monitorMode = 0;
    std::array<uint8_t, kAnswerPayloadSize> a{};
    const auto show = [&](const DeviceSettings& settings) {
        std::memcpy(a.data(), &settings, kSettingsSize);
        ASSERT_TRUE(link.storeAnswer(false, a));
        w.refresh();
    };
    show(s);
    const Case cases[] = {{w.but0, "Preset 1", "on", "off"},
                          {w.but2, "Preset 3", "off", "on"},
                          {w.mute, "Mute", "off", "on"},
                          {w.dif, "Difference", "off", "on"},
                          {w.sum, "Sum", "off", "off"}};
    for (const Case& c : cases) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(c.button);
        EXPECT_EQ(i->text(QAccessible::Name), QString::fromLatin1(c.name));
        EXPECT_EQ(i->text(QAccessible::Value), QString::fromLatin1(c.before)) << c.name;
        EXPECT_EQ(i->state().checked, std::string(c.before) == "on") << c.name;
    }
    s.preset = 2;
    s.muteOn = 1;
    s.monitorMode = 2;
    show(s);
    for (const Case& c : cases) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(c.button);
        EXPECT_EQ(i->text(QAccessible::Value), QString::fromLatin1(c.after)) << c.name;
    }
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w.brg1)->text(QAccessible::Name),
              QStringLiteral("Brightness 30%"));
}

// What a reader hears of the choices: each source list by what it chooses, with its choice as
// the value and its caption as its label; the presets as a group of exclusive choices; the dim
// button by the level the unit dims to.
TEST_F(MetersOnWindow, ScreenReaderHearsListsPresetsAndDimAsTheyAre) {
    DeviceSettings s = factoryDefaults();
    std::array<uint8_t, kAnswerPayloadSize> a{};
    const auto show = [&](const DeviceSettings& settings) {
        std::memcpy(a.data(), &settings, kSettingsSize);
        ASSERT_TRUE(link.storeAnswer(false, a));
        w.refresh();
    };
    s.preset = 1;
    show(s);

    for (const auto& [list, caption, name] :
         {std::tuple{w.srcL, w.lbl4, "Left source"}, std::tuple{w.srcR, w.lbl8, "Right source"}}) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(list);
        EXPECT_EQ(i->role(), QAccessible::ComboBox);
        EXPECT_EQ(i->text(QAccessible::Name), QString::fromLatin1(name));
        EXPECT_EQ(i->text(QAccessible::Value), list->currentText()) << name;
        EXPECT_FALSE(list->currentText().isEmpty());
        // Over AT-SPI the choice is read as the list's text.
        ASSERT_NE(i->textInterface(), nullptr);
        EXPECT_EQ(i->textInterface()->text(0, -1), list->currentText()) << name;
        bool labelled = false;
        for (const auto& [other, relation] : i->relations(QAccessible::Label)) {
            labelled = labelled || other->object() == caption;
        }
        EXPECT_TRUE(labelled) << name << " is not labelled by its caption";
        ASSERT_EQ(i->childCount(), 1);
        EXPECT_EQ(i->child(0)->object(), list->view());
    }

    QAccessibleInterface* group = nullptr;
    THSSpeedButton* const presets[] = {w.but0, w.but1, w.but2, w.but3};
    for (std::size_t k = 0; k < 4; ++k) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(presets[k]);
        EXPECT_EQ(i->role(), QAccessible::RadioButton) << k;
        EXPECT_TRUE(i->state().checkable);
        EXPECT_EQ(i->state().checked, k == 1) << k;
        QAccessibleInterface* parent = i->parent();
        ASSERT_NE(parent, nullptr);
        if (group == nullptr) {
            group = parent;
        }
        EXPECT_EQ(parent, group) << "preset " << k + 1 << " is outside the group";
    }
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    EXPECT_EQ(group->text(QAccessible::Name), QStringLiteral("Presets"));
    EXPECT_EQ(group->childCount(), 4);
    EXPECT_EQ(w.but3->mapTo(&w, QPoint(0, 0)), w.mute->mapTo(&w, QPoint(0, 0)) + QPoint(113, -64))
        << "the presets moved";
    for (QWidget* toggle : std::initializer_list<QWidget*>{w.mute, w.sum, w.dif, w.dim}) {
        EXPECT_EQ(QAccessible::queryAccessibleInterface(toggle)->role(), QAccessible::Button);
    }

    struct DimCase {
        uint8_t mode;
        const char* name;
        bool on;
    };
    for (const DimCase c : {DimCase{1, "Dim -20 dB", true}, DimCase{2, "Dim +20 dB", true},
                            DimCase{0, "Dim off", false}, DimCase{7, "Dim off", false}}) {
        s.dimMode = c.mode;
        show(s);
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(w.dim);
        EXPECT_EQ(i->text(QAccessible::Name), QString::fromLatin1(c.name)) << int(c.mode);
        EXPECT_EQ(i->state().checked, c.on) << int(c.mode);
    }
}

struct HistoryOnWindow : MetersOnWindow {
    levels::LevelHistoryWindow* open() {
        w.HIST->trigger();
        levels::LevelHistoryWindow* h = meters().historyWindow();
        EXPECT_NE(h, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(h));
        return h;
    }
    // Twenty seconds of readings at 10 Hz with one over on the left at 5 s and the unit away
    // from 12 to 15 s.
    void record() {
        for (int k = 0; k < 200; ++k) {
            advance(100);
            if (k >= 120 && k < 150) {
                continue;
            }
            answer(k == 50 ? 13 : -20, -9);
        }
    }
    static std::string read(const QString& name) {
        std::ifstream in(name.toStdString(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(HistoryOnWindow, OpensFromTheFileMenuAsAResizableWindow) {
    const QList<QAction*> file = w.N4->actions();
    const qsizetype at = file.indexOf(w.HIST);
    ASSERT_GT(at, 0);
    EXPECT_EQ(w.HIST->text().remove(QLatin1Char('&')), QStringLiteral("Level history"));
    EXPECT_EQ(file.at(at + 1), w.FCLOSE) << "just above Close";

    const QSize mainSize = w.size();
    levels::LevelHistoryWindow* h = open();
    EXPECT_EQ(h->windowTitle(), QStringLiteral("Level history"));
    EXPECT_TRUE(h->isWindow());
    EXPECT_NE(h->minimumSize(), h->maximumSize());
    h->resize(900, 500);
    EXPECT_EQ(h->size(), QSize(900, 500));
    // Opening again brings the same window forward.
    w.HIST->trigger();
    EXPECT_EQ(meters().historyWindow(), h);
    EXPECT_EQ(w.size(), mainSize) << "the main window keeps its size";
}

TEST_F(HistoryOnWindow, KeyboardZoomsScrollsAndCloses) {
    record();
    levels::LevelHistoryWindow* h = open();
    h->plot->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return h->plot->hasFocus(); }));
    const levels::HistoryView& view = h->plot->view();
    struct Key {
        Qt::Key key;
        int64_t span;
        bool live;
    };
    // Twenty seconds recorded: scrolling means something only in a narrower view.
    for (const Key k : {Key{Qt::Key_Plus, 60'000, true}, Key{Qt::Key_Home, 60'000, true},
                        Key{Qt::Key_Plus, 30'000, true}, Key{Qt::Key_Plus, 15'000, true},
                        Key{Qt::Key_Left, 15'000, false}, Key{Qt::Key_End, 15'000, true},
                        Key{Qt::Key_Home, 15'000, false}, Key{Qt::Key_Right, 15'000, false},
                        Key{Qt::Key_PageDown, 15'000, true}}) {
        QTest::keyClick(h->plot, k.key);
        EXPECT_EQ(view.spanMs(), k.span) << k.key;
        EXPECT_EQ(view.live(), k.live) << k.key;
        EXPECT_EQ(h->liveButton->isEnabled(), !k.live) << k.key;
    }
    // The scroll bar follows the view, and moving it moves the view.
    EXPECT_EQ(h->scroll->value(), h->scroll->maximum());
    h->scroll->setValue(0);
    EXPECT_FALSE(view.live());
    EXPECT_EQ(view.startMs(levels::toMs(clock.mono)), levels::toMs(clock.mono) - 19'900);
    h->scroll->setValue(h->scroll->maximum());
    EXPECT_TRUE(view.live());
    QTest::keyClick(h, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !h->isVisible(); }));
}

TEST_F(HistoryOnWindow, ScreenReaderNamesEveryControlAndSummarisesThePlot) {
    record();
    levels::LevelHistoryWindow* h = open();
    for (QWidget* c : h->findChildren<QWidget*>()) {
        if (c->focusPolicy() != Qt::NoFocus) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
            ASSERT_NE(a, nullptr);
            EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << c->objectName().toStdString();
        }
    }
    QAccessibleInterface* plot = QAccessible::queryAccessibleInterface(h->plot);
    EXPECT_EQ(plot->text(QAccessible::Name), QStringLiteral("Level history plot"));
    // The clock stands at 15:42:27.300 after twenty seconds; the view shows two minutes.
    EXPECT_EQ(plot->text(QAccessible::Value),
              QStringLiteral("15:40:27 to now, left peak 8 dB with 1 over, right peak -5.4 dB, "
                             "1 gap"));
    QTest::keyClick(h->plot, Qt::Key_Plus);
    QTest::keyClick(h->plot, Qt::Key_Plus);
    QTest::keyClick(h->plot, Qt::Key_Plus);
    QTest::keyClick(h->plot, Qt::Key_Plus); // 10 s: from 15:42:17.300, after the over
    EXPECT_EQ(plot->text(QAccessible::Value),
              QStringLiteral("15:42:17 to now, left peak -22 dB, right peak -5.4 dB, 1 gap"));
}

// The exported picture stands on its own: it names the unit and the date and time in view
// above the plot, whose scale labels stay apart and mark readings above 0 dB with "+".
TEST_F(HistoryOnWindow, ExportedPictureNamesUnitAndTimeAndKeepsItsLabelsApart) {
    record();
    tfu.setDeviceFields(QStringLiteral("QX-77ZT"), QStringLiteral("QX7700000042"),
                        QStringLiteral("1.2"));
    levels::LevelHistoryWindow* h = open();
    ASSERT_TRUE(h->unitName);
    EXPECT_EQ(h->unitName(), QStringLiteral("QX-77ZT, serial QX7700000042, version 1.2"));
    // The clock stands at 15:42:27.300; the view shows two minutes.
    const levels::HistoryCaption caption =
        levels::historyCaption(h->unitName(), h->plot->view(), clock);
    EXPECT_EQ(caption.range, QStringLiteral("2026-12-10 15:40:27 to 15:42:27 (UTC+00:00)"));
    EXPECT_EQ(caption.unit, QStringLiteral("QX-77ZT, serial QX7700000042, version 1.2"));
    // Over midnight the end carries its own date.
    levels::Instant late = clock;
    late.wall += std::chrono::hours(8) + std::chrono::minutes(18);
    EXPECT_EQ(levels::historyCaption({}, h->plot->view(), late).range,
              QStringLiteral("2026-12-10 23:58:27 to 2026-12-11 00:00:27 (UTC+00:00)"));

    struct Reading {
        int level;
        const char* text;
    };
    for (const Reading r : {Reading{13, "+8"}, Reading{5, "+2.7"}, Reading{1, "+0.5"},
                            Reading{0, "0"}, Reading{-1, "-0.5"}, Reading{-35, "-52"}}) {
        EXPECT_EQ(levels::plotReading(r.level), QLatin1String(r.text)) << r.level;
    }

    // "dB" above the scale, clear of every level's label, inside the plot's top margin.
    for (const int textHeight : {11, 13, 15, 17}) {
        const QRect area(40, 34, 700, 300);
        const QRect unit = levels::unitLabelRect(area, textHeight);
        EXPECT_GE(unit.top(), 0) << textHeight;
        for (const int level : {13, 7, 0, -35}) {
            EXPECT_FALSE(unit.intersects(levels::levelLabelRect(area, level, textHeight)))
                << textHeight << " " << level;
        }
    }
    // In the picture itself: the caption band holds ink, and in the left margin the "dB" and
    // the "+8" beneath it are two runs of rows with text, not one.
    const QImage image = h->plot->image(h->unitName());
    const int band = image.height() - h->plot->height();
    ASSERT_GT(band, 0);
    const auto inked = [&](int y, int x0, int x1) {
        for (int x = x0; x < x1; ++x) {
            if (qGray(image.pixel(x, y)) < 160) {
                return true;
            }
        }
        return false;
    };
    int captionRows = 0;
    for (int y = 0; y < band; ++y) {
        captionRows += inked(y, 0, image.width()) ? 1 : 0;
    }
    EXPECT_GT(captionRows, 5);
    const QFontMetrics fm(h->plot->font());
    const int plotTop = band + 34; // the area's top edge, where "+8" is centred
    int runs = 0;
    bool inRun = false;
    for (int y = band; y <= plotTop + fm.height() / 2; ++y) {
        const bool ink = inked(y, 0, 34);
        runs += ink && !inRun ? 1 : 0;
        inRun = ink;
    }
    EXPECT_EQ(runs, 2);
}

TEST_F(HistoryOnWindow, ExportsCsvAndPng) {
    record();
    levels::LevelHistoryWindow* h = open();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    struct Case {
        const char* name;
        QString chosen;
        bool csv;
        bool written;
        QString file;
    };
    const Case cases[] = {
        {"csv, suffix added", dir.filePath(QStringLiteral("levels")), true, true,
         dir.filePath(QStringLiteral("levels.csv"))},
        {"png as named", dir.filePath(QStringLiteral("plot.png")), false, true,
         dir.filePath(QStringLiteral("plot.png"))},
        {"cancelled", QString(), true, false, QString()},
        {"folder missing", dir.filePath(QStringLiteral("no/such/levels.csv")), true, false,
         dir.filePath(QStringLiteral("no/such/levels.csv"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.shown.clear();
        dialogs.nextSaveName = c.chosen;
        EXPECT_EQ(c.csv ? h->exportCsv() : h->exportPng(), c.written);
        EXPECT_EQ(QFile::exists(c.file), c.written);
        EXPECT_EQ(dialogs.shown.size(), !c.written && !c.chosen.isEmpty() ? 1u : 0u);
    }
    const std::string csv = read(dir.filePath(QStringLiteral("levels.csv")));
    EXPECT_TRUE(csv.starts_with("time,left_db,right_db,over_left,over_right\n"
                                "2026-12-10T15:42:07.400+00:00,-22,-5.4,0,0\n"));
    EXPECT_NE(csv.find("2026-12-10T15:42:12.400+00:00,8,-5.4,1,0\n"), std::string::npos);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 170);

    const QImage png(dir.filePath(QStringLiteral("plot.png")));
    EXPECT_EQ(png.width(), h->plot->width());
    EXPECT_GT(png.height(), h->plot->height()) << "a caption above the plot";
    EXPECT_EQ(dialogs.saveAsked.back().filter, QStringLiteral("CSV file (*.csv)"));
}

} // namespace
} // namespace qx
