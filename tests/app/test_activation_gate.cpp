// SPDX-License-Identifier: GPL-3.0-or-later
// Which activations of the main window bring the link up, with real windows on the offscreen
// platform. Another application taking and giving back the focus is played with the events and
// the focus report Qt delivers for it.
#include "app/ActivationGate.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace qx {
namespace {

class Activation : public ::testing::Test {
protected:
    QWidget main;
    bool transferRunning = false;
    int bindings = 0;
    ActivationGate gate{main, [this] { return transferRunning; }, [this] { ++bindings; }};

    void SetUp() override {
        main.resize(120, 80);
        main.show();
        main.activateWindow();
        ASSERT_TRUE(waitForFocus(main));
        ASSERT_EQ(bindings, 1) << "the first activation binds";
    }

    // Waits until `w` holds the focus itself: a dialog counts as active as soon as the window it
    // belongs to is.
    static bool waitForFocus(QWidget& w) {
        return QTest::qWaitFor([&w] { return QGuiApplication::focusWindow() == w.windowHandle(); });
    }

    // Hands the focus to `other`, a window of this program, and back to the main window.
    void roundTrip(QWidget& other) {
        other.show();
        other.activateWindow();
        ASSERT_TRUE(waitForFocus(other));
        other.hide();
        main.activateWindow();
        ASSERT_TRUE(waitForFocus(main));
    }

    // What Qt delivers when another application takes the focus and later gives it back; the
    // platform may report the new focus window before or after the activation.
    void roundTripThroughAnotherApplication(bool focusReportedFirst) {
        emit qGuiApp->focusWindowChanged(nullptr);
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(&main, &deactivate);
        if (focusReportedFirst) {
            emit qGuiApp->focusWindowChanged(main.windowHandle());
        }
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&main, &activate);
        if (!focusReportedFirst) {
            emit qGuiApp->focusWindowChanged(main.windowHandle());
        }
    }
};

TEST_F(Activation, FocusBackFromADialogOfTheProgramBindsAgain) {
    QDialog dialog(&main);
    roundTrip(dialog);
    EXPECT_EQ(bindings, 2);
    roundTrip(dialog);
    EXPECT_EQ(bindings, 3);
}

TEST_F(Activation, FocusBackFromAnotherApplicationDoesNotBind) {
    for (const bool focusReportedFirst : {false, true}) {
        roundTripThroughAnotherApplication(focusReportedFirst);
    }
    EXPECT_EQ(bindings, 1);
    // The next dialog still counts.
    QDialog dialog(&main);
    roundTrip(dialog);
    EXPECT_EQ(bindings, 2);
}

TEST_F(Activation, FocusBackFromAnotherPlainWindowDoesNotBind) {
    // Such as the demo's control window: it is no dialog over the main window.
    QWidget other;
    other.resize(60, 40);
    roundTrip(other);
    EXPECT_EQ(bindings, 1);
}

TEST_F(Activation, NothingBindsWhileATransferRuns) {
    transferRunning = true;
    QDialog dialog(&main);
    roundTrip(dialog);
    EXPECT_EQ(bindings, 1);
    transferRunning = false;
    roundTrip(dialog);
    EXPECT_EQ(bindings, 2);
}

TEST_F(Activation, ALaterCopyBringsTheModalWindowForwardNotTheMainWindow) {
    // The update window during a transfer is modal over the main window.
    transferRunning = true;
    QDialog update(&main);
    update.setModal(true);
    update.show();
    update.activateWindow();
    ASSERT_TRUE(waitForFocus(update));
    main.showMinimized();
    bringForward(main);
    EXPECT_TRUE(waitForFocus(update));
    EXPECT_FALSE(main.isMinimized());
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(bindings, 1);

    // With no modal window open, the main window itself comes forward.
    update.hide();
    transferRunning = false;
    bringForward(main);
    EXPECT_TRUE(waitForFocus(main));
}

} // namespace
} // namespace qx
