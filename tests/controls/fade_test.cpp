// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSSpeedButton.h"

#include <QCoreApplication>
#include <QEnterEvent>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Fixture {
    QWidget parent;
    THSSpeedButton* b;
    explicit Fixture(THSSlowDecease mode) : b(new THSSpeedButton(&parent)) {
        b->setSlowDecease(mode);
        parent.show();
    }
    void enter() {
        QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(b, &e);
    }
    void leave() {
        QEvent e(QEvent::Leave);
        QCoreApplication::sendEvent(b, &e);
    }
    // Steps after each of n ticks.
    std::vector<int> ticks(int n) {
        std::vector<int> steps;
        for (int i = 0; i < n; ++i) {
            b->hotTrackTimerTick();
            steps.push_back(b->hotTrackStep());
        }
        return steps;
    }
    bool running() const { return b->fadeTimer() && !b->fadeTimer()->Suspended(); }
};

} // namespace

TEST(HSFade, EnterLeaveFadesBothWays) {
    Fixture f(sdEnterLeave);
    ASSERT_NE(f.b->fadeTimer(), nullptr);
    EXPECT_EQ(f.b->fadeTimer()->interval(), 30);
    f.enter();
    EXPECT_EQ(f.b->hotTrackStep(), 0);
    EXPECT_TRUE(f.running());
    EXPECT_EQ(f.ticks(3), (std::vector<int>{1, 2, 3}));
    f.leave();
    EXPECT_EQ(f.ticks(3), (std::vector<int>{2, 1, 0}));
    EXPECT_FALSE(f.running());

    f.enter();
    EXPECT_EQ(f.ticks(8), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_FALSE(f.running());
}

TEST(HSFade, LeaveModeJumpsUpAndFadesDown) {
    Fixture f(sdLeave);
    f.enter();
    EXPECT_EQ(f.b->hotTrackStep(), 8);
    EXPECT_FALSE(f.running());
    f.leave();
    EXPECT_TRUE(f.running());
    EXPECT_EQ(f.ticks(2), (std::vector<int>{7, 6}));
    f.enter();
    EXPECT_EQ(f.b->hotTrackStep(), 8);
    EXPECT_EQ(f.ticks(1), std::vector<int>{8});
    EXPECT_FALSE(f.running());
}

TEST(HSFade, SwitchingModes) {
    Fixture f(sdNone);
    f.enter();
    EXPECT_EQ(f.b->hotTrackStep(), 8);
    f.b->setSlowDecease(sdLeave); // the step stays, the timer is idle
    EXPECT_EQ(f.b->hotTrackStep(), 8);
    ASSERT_NE(f.b->fadeTimer(), nullptr);
    EXPECT_FALSE(f.running());
    f.b->setSlowDecease(sdNone); // hot colour gone until the pointer comes back
    EXPECT_EQ(f.b->hotTrackStep(), 0);
    EXPECT_EQ(f.b->fadeTimer(), nullptr);
}

TEST(HSFade, FaceFollowsTheStepOnlyWithAHotColour) {
    Fixture f(sdEnterLeave);
    f.b->setColor(RGBColor(192, 192, 192));
    f.b->setHotTrackColor(RGBColor(208, 208, 208));
    f.enter();
    f.ticks(4);
    THSButtonPaintState s = f.b->paintState();
    s.flat = true;
    s.style = bsNormal;
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 50, 10), RGBColor(200, 200, 200));
    s.hotTrackColor = clNone;
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 50, 10), RGBColor(192, 192, 192));
    s.hotTrackColor = RGBColor(208, 208, 208);
    s.enabled = false;
    EXPECT_EQ(PixelColor(RenderButtonImage(s), 50, 10), RGBColor(192, 192, 192));
}

TEST(HSFade, DestroyingARunningFadeIsQuiet) {
    auto* f = new Fixture(sdEnterLeave);
    f->enter();
    EXPECT_TRUE(f->running());
    delete f->b;
    QCoreApplication::processEvents();
    delete f;
}
