// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSSpeedButton.h"

#include <QAction>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

struct Shown {
    QWidget parent;
    Shown() { parent.resize(400, 200); }
    // Children created after show() stay hidden, so tests show once they are built.
    void show() {
        parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&parent));
    }
};

void Enter(QWidget* w) {
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(w, &e);
}

void Leave(QWidget* w) {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

TEST(HSSpeedButton, ConstructionValues) {
    QWidget form;
    form.setFont(QFont(QStringLiteral("DejaVu Serif"), 17));
    THSSpeedButton b(&form);
    EXPECT_EQ(b.size(), QSize(100, 23));
    EXPECT_EQ(b.alignment(), taCenter);
    EXPECT_EQ(b.vAlignment(), taAlignTop);
    EXPECT_EQ(b.border(), 1);
    EXPECT_EQ(b.color(), clBtnFace);
    EXPECT_EQ(b.colorWhenDown(), clNone);
    EXPECT_EQ(b.hotTrackColor(), clNone);
    EXPECT_EQ(b.lightColor(), RGBColor(255, 255, 255));
    EXPECT_EQ(b.shadowColor(), RGBColor(0, 0, 0));
    EXPECT_EQ(b.buttonStyle(), bsNormal);
    EXPECT_EQ(b.buttonLayout(), blGlyphLeft);
    EXPECT_EQ(b.slowDecease(), sdNone);
    EXPECT_EQ(b.fadeTimer(), nullptr);
    EXPECT_EQ(b.numGlyphs(), 0);
    EXPECT_FALSE(b.down() || b.flat() || b.transparent() || b.allowAllUp() || b.wordWrap());
    EXPECT_EQ(b.hotTrackFont().family(), QStringLiteral("DejaVu Serif"));
}

TEST(HSSpeedButton, GlyphDerivesSquareCells) {
    THSSpeedButton b;
    b.setGlyph(QImage(64, 16, QImage::Format_ARGB32));
    EXPECT_EQ(b.numGlyphs(), 4);
    b.setNumGlyphs(2);
    EXPECT_EQ(b.numGlyphs(), 2);
    b.setGlyph(QImage());
    EXPECT_EQ(b.numGlyphs(), 0);
    EXPECT_TRUE(b.glyph().isNull());
}

TEST(HSSpeedButton, GroupRules) {
    Shown w;
    QWidget other(&w.parent);
    THSSpeedButton a(&w.parent), b(&w.parent), c(&other), plain(&w.parent);
    for (THSSpeedButton* x : {&a, &b, &c}) {
        x->setGroupIndex(1);
    }
    c.setDown(true);
    plain.move(0, 100);
    b.move(150, 0);
    w.show();

    QTest::mouseClick(&a, Qt::LeftButton);
    EXPECT_TRUE(a.down());
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_TRUE(b.down());
    EXPECT_FALSE(a.down());
    QTest::mouseClick(&b, Qt::LeftButton); // stays latched
    EXPECT_TRUE(b.down());
    EXPECT_TRUE(c.down()) << "another parent's group is untouched";
    EXPECT_FALSE(plain.down());

    // Assigning the current value neither repaints nor touches the group.
    PaintCounter paints;
    a.installEventFilter(&paints);
    a.setDown(false);
    EXPECT_EQ(paints.count, 0);
    EXPECT_TRUE(b.down());
    a.setDown(true);
    EXPECT_GT(paints.count, 0);
    EXPECT_FALSE(b.down());

    a.setAllowAllUp(true);
    QTest::mouseClick(&a, Qt::LeftButton);
    EXPECT_FALSE(a.down());
    EXPECT_FALSE(b.down());
}

TEST(HSSpeedButton, MouseEventOrder) {
    Shown w;
    THSSpeedButton b(&w.parent);
    w.show();
    std::vector<std::string> log;
    auto note = [&](const char* what) { log.push_back(what + std::string(b.down() ? "+" : "-")); };
    QObject::connect(&b, &THSSpeedButton::mouseDown,
                     [&](Qt::MouseButton btn, Qt::KeyboardModifiers, QPoint) {
                         note(btn == Qt::LeftButton ? "downL" : "downR");
                     });
    QObject::connect(&b, &THSSpeedButton::clicked, [&] { note("click"); });
    QObject::connect(&b, &THSSpeedButton::mouseUp,
                     [&](Qt::MouseButton, Qt::KeyboardModifiers, QPoint) { note("up"); });

    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_EQ(log, (std::vector<std::string>{"downL-", "click+", "up+"}));
    EXPECT_FALSE(b.down());

    // The right button does not press a plain button, but its release still lets it up.
    log.clear();
    QTest::mousePress(&b, Qt::RightButton);
    EXPECT_FALSE(b.down());
    b.setDown(true);
    QTest::mouseRelease(&b, Qt::RightButton);
    EXPECT_EQ(log, (std::vector<std::string>{"downR-", "up+"}));
    EXPECT_FALSE(b.down());

    // A release outside the bounds is no click.
    log.clear();
    QTest::mousePress(&b, Qt::LeftButton);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(300, 5));
    EXPECT_EQ(log, (std::vector<std::string>{"downL-", "up+"}));

    // The second press of a double click is a press: a grouped button toggles twice.
    log.clear();
    b.setGroupIndex(3);
    b.setAllowAllUp(true);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool release = type == QEvent::MouseButtonRelease;
        QMouseEvent e(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      release ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&b, &e);
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("downL-")), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("downL+")), 1);
    EXPECT_FALSE(b.down());
}

TEST(HSSpeedButton, HoverFollowsAcceptance) {
    Shown w;
    THSSpeedButton b(&w.parent);
    w.show();
    int enters = 0;
    int exits = 0;
    QObject::connect(&b, &THSSpeedButton::mouseEnter, [&] { ++enters; });
    QObject::connect(&b, &THSSpeedButton::mouseExit, [&] { ++exits; });

    Enter(&b);
    EXPECT_TRUE(b.cursorOnButton());
    EXPECT_EQ(b.hotTrackStep(), 8);
    Leave(&b);
    EXPECT_FALSE(b.cursorOnButton());
    EXPECT_EQ(b.hotTrackStep(), 0);
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(exits, 1);

    b.setEnabled(false);
    Enter(&b);
    EXPECT_FALSE(b.cursorOnButton());
    Leave(&b);
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(exits, 1);
}

TEST(HSSpeedButton, AcceleratorClicksWhileDown) {
    Shown w;
    THSSpeedButton b(&w.parent), mate(&w.parent);
    w.show();
    b.setCaption(QStringLiteral("&Mute"));
    b.setGroupIndex(2);
    mate.setGroupIndex(2);
    mate.setDown(true);
    std::vector<bool> downAtClick;
    QObject::connect(&b, &THSSpeedButton::clicked, [&] { downAtClick.push_back(b.down()); });

    EXPECT_FALSE(b.dialogChar(QLatin1Char('x')));
    EXPECT_TRUE(b.dialogChar(QLatin1Char('M')));
    EXPECT_EQ(downAtClick, std::vector<bool>{true});
    EXPECT_FALSE(b.down());
    EXPECT_FALSE(mate.down()) << "the whole group ends up";

    EXPECT_EQ(CaptionAccelerator(QStringLiteral("a&&b&c")), QLatin1Char('c'));
    EXPECT_TRUE(CaptionAccelerator(QStringLiteral("a&&b")).isNull());

    b.setEnabled(false);
    EXPECT_FALSE(b.dialogChar(QLatin1Char('m')));
}

TEST(HSSpeedButton, ActionIconBecomesTheGlyph) {
    Shown w;
    QPixmap pm(16, 16);
    pm.fill(Qt::red);
    QAction act(QIcon(pm), QStringLiteral("&Go"));
    int triggered = 0;
    QObject::connect(&act, &QAction::triggered, [&] { ++triggered; });

    THSSpeedButton b(&w.parent);
    b.setAction(&act);
    EXPECT_EQ(b.caption(), QStringLiteral("&Go"));
    EXPECT_EQ(b.numGlyphs(), 1);
    EXPECT_EQ(b.glyph().size(), QSize(16, 16));
    EXPECT_EQ(b.glyph().pixel(3, 3), qRgb(255, 0, 0));
    b.click();
    EXPECT_EQ(triggered, 1);
    act.setEnabled(false);
    EXPECT_FALSE(b.isEnabled());

    THSSpeedButton own(&w.parent);
    own.setGlyph(QImage(32, 16, QImage::Format_RGB32));
    own.setAction(&act);
    EXPECT_EQ(own.numGlyphs(), 2);
}

// The keyboard presses a button as the mouse does, with the same events in the same order; a
// click does not take the focus away from another control.
TEST(HSSpeedButton, KeysPressLikeTheMouseButtons) {
    Shown w;
    THSSpeedButton b(&w.parent);
    QWidget other(&w.parent);
    other.setFocusPolicy(Qt::StrongFocus);
    w.show();
    std::vector<std::string> log;
    auto note = [&](const char* what) { log.push_back(what + std::string(b.down() ? "+" : "-")); };
    QObject::connect(&b, &THSSpeedButton::mouseDown,
                     [&](Qt::MouseButton btn, Qt::KeyboardModifiers, QPoint) {
                         note(btn == Qt::LeftButton ? "downL" : "downR");
                     });
    QObject::connect(&b, &THSSpeedButton::clicked, [&] { note("click"); });
    QObject::connect(&b, &THSSpeedButton::mouseUp,
                     [&](Qt::MouseButton, Qt::KeyboardModifiers, QPoint) { note("up"); });

    other.setFocus();
    QTest::mouseClick(&b, Qt::LeftButton);
    EXPECT_TRUE(other.hasFocus());
    const std::vector<std::string> left = {"downL-", "click+", "up+"};
    const std::vector<std::string> right = {"downR-", "up-"};
    EXPECT_EQ(log, left);

    struct Row {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const std::vector<std::string>* expected;
    };
    const Row rows[] = {
        {Qt::Key_Space, {}, &left},
        {Qt::Key_Return, {}, &left},
        {Qt::Key_Enter, Qt::KeypadModifier, &left},
        {Qt::Key_Menu, {}, &right},
        {Qt::Key_F10, Qt::ShiftModifier, &right},
        {Qt::Key_F10, {}, nullptr},
        {Qt::Key_Space, Qt::ControlModifier, nullptr},
        {Qt::Key_A, {}, nullptr},
    };
    b.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(b.hasFocus());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key);
        log.clear();
        QTest::keyClick(&b, r.key, r.modifiers);
        EXPECT_EQ(log, r.expected ? *r.expected : std::vector<std::string>{});
        EXPECT_FALSE(b.down());
    }
    // Holding the key presses once.
    log.clear();
    QTest::keyPress(&b, Qt::Key_Space);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QCoreApplication::sendEvent(&b, &repeat);
    EXPECT_EQ(log, left);
}

// The focus mark is drawn only while the button has the focus, in black and white so that every
// scheme shows it.
TEST(HSSpeedButton, FocusMarkIsPlainlyVisible) {
    Shown w;
    THSSpeedButton b(&w.parent);
    b.setGeometry(10, 10, 96, 49);
    b.setButtonStyle(bsModern);
    w.show();
    for (THSColorStyle scheme : {lcsChrome, lcsGreen, lcsRed, lcsGold, lcsBlue}) {
        SCOPED_TRACE(scheme);
        b.setColorStyle(scheme);
        w.parent.setFocus();
        const QImage plain = b.grab().toImage();
        b.setFocus(Qt::TabFocusReason);
        const QImage marked = b.grab().toImage();
        int black = 0;
        int white = 0;
        int changed = 0;
        // The left edge of the mark, three pixels in.
        for (int y = 6; y < b.height() - 6; ++y) {
            for (int x = 2; x <= 3; ++x) {
                const QRgb p = marked.pixel(x, y);
                black += p == qRgb(0, 0, 0);
                white += p == qRgb(255, 255, 255);
                changed += p != plain.pixel(x, y);
            }
        }
        EXPECT_GE(black, 15);
        EXPECT_GE(white, 15);
        EXPECT_GE(changed, 30);
    }
}
