// The meters' memory on the main window: peak markers in the bar boxes, the over latch on the
// reading labels, and what a screen reader is told, on a fake clock.
#include "levels/LevelMeters.h"
#include "panel/umain.h"
#include "tests/panel/ScriptedDialogs.h"
#include "update/uu.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

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
        w.tmr->stop();
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
        EXPECT_EQ(meters().overlay(LevelMeters::kLeft)->markerX(), s.markerX)
            << "level " << int(s.level) << " after " << s.afterMs;
    }
    const QWidget* box = meters().overlay(LevelMeters::kLeft);
    EXPECT_EQ(box->geometry(), w.imgl->geometry());
    EXPECT_EQ(meters().overlay(LevelMeters::kRight)->geometry(), QRect(4, 23, 154, 10));
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
    QWidget* bar = meters().overlay(LevelMeters::kLeft);
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
    };
    const Step steps[] = {
        {0, -20, -128, "Left level -22 dB, peak -22 dB", "Right level -52 dB"},
        {500, -30, -35, "Left level -42 dB, peak -22 dB", "Right level -52 dB, peak -52 dB"},
        {100, 13, 2, "Left level 8 dB, peak 8 dB, over", "Right level 1 dB, peak 1 dB"},
        {2100, -9, -9, "Left level -5.4 dB, peak 6.8 dB, over",
         "Right level -5.4 dB, peak -0.2 dB"},
    };
    for (const Step& s : steps) {
        advance(s.afterMs);
        answer(s.left, s.right);
        for (const auto& [ch, text] : {std::pair{LevelMeters::kLeft, s.leftText},
                                       std::pair{LevelMeters::kRight, s.rightText}}) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(meters().overlay(ch));
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(a->text(QAccessible::Name) + QLatin1Char(' ') + a->text(QAccessible::Value),
                      QString::fromLatin1(text));
            EXPECT_EQ(meters().sentence(ch), QString::fromLatin1(text));
        }
    }
}

TEST_F(MetersOnWindow, TheBarsComeFirstInTheTabOrder) {
    QWidget* left = meters().overlay(LevelMeters::kLeft);
    left->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return left->hasFocus(); }));
    QTest::keyClick(&w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), meters().overlay(LevelMeters::kRight));
    QTest::keyClick(&w, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(w.rb_vu));
}

} // namespace
} // namespace qx
