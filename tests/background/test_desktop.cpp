// SPDX-License-Identifier: GPL-3.0-or-later
// The main window in the background, with and without a tray: what closing it does, the two
// settings in its File menu, and what the tray icon shows.
#include "background/Desktop.h"
#include "background/TrayStatus.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace qx::background {
namespace {

// Counts the closes that reach the window, as the program's window stops every link there.
class Window : public QMainWindow {
public:
    Window() {
        file = menuBar()->addMenu(QStringLiteral("&File"));
        close_ = file->addAction(QStringLiteral("&Close"), this, &QWidget::close);
    }
    int closes = 0;
    QMenu* file = nullptr;
    QAction* close_ = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override {
        ++closes;
        e->accept();
    }
};

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QApplication::setQuitOnLastWindowClosed(true);
    }
    void TearDown() override { QApplication::setQuitOnLastWindowClosed(true); }

    std::unique_ptr<Desktop> make(bool tray) {
        DesktopSetup setup;
        setup.window = &window_;
        setup.menu = window_.file;
        setup.before = window_.close_;
        setup.show = [this] { ++shows_; };
        setup.quit = [this] { ++quits_; };
        setup.trayAvailable = [tray] { return tray; };
        setup.settingsPath = dir_.filePath(QStringLiteral("desktop.conf"));
        setup.program = QStringLiteral("/usr/bin/QX_77ZT");
        return std::make_unique<Desktop>(std::move(setup));
    }
    // The window's close, as its close box or File > Close asks for it.
    void closeWindow() {
        window_.close();
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir_;
    Window window_;
    int shows_ = 0;
    int quits_ = 0;
};

TEST_F(DesktopTest, WithoutATrayClosingEndsTheProgramAsEverAndTheSettingSaysWhy) {
    auto desktop = make(false);
    QAction* keep = desktop->keepWatchingAction();
    EXPECT_FALSE(keep->isEnabled());
    EXPECT_EQ(keep->toolTip(), QString::fromLatin1(kNoTrayText));
    EXPECT_TRUE(window_.file->toolTipsVisible());
    EXPECT_TRUE(window_.file->actions().contains(keep));
    EXPECT_EQ(desktop->tray(), nullptr);

    // Even with the setting kept on from a desktop that had a tray.
    keep->setChecked(true);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    closeWindow();
    EXPECT_EQ(window_.closes, 1);
    EXPECT_FALSE(window_.isVisible());
    // The end comes with the last window, as before.
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    EXPECT_FALSE(desktop->mayStartHidden());
}

TEST_F(DesktopTest, WithATrayAndTheSettingOnClosingHidesTheWindowAndTheProgramGoesOn) {
    auto desktop = make(true);
    ASSERT_NE(desktop->tray(), nullptr);
    EXPECT_TRUE(desktop->keepWatchingAction()->isEnabled());
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_TRUE(desktop->mayStartHidden());
    desktop->keepWatchingAction()->setChecked(true);

    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    closeWindow();
    EXPECT_EQ(window_.closes, 0); // the window's own close (which stops the links) never ran
    EXPECT_FALSE(window_.isVisible());
    EXPECT_EQ(quits_, 0);

    // Back from the tray.
    emit desktop->tray()->showAction()->triggered();
    EXPECT_EQ(shows_, 1);

    // Quit from the tray: the program's quit, and the close it makes goes through.
    desktop->tray()->quitAction()->trigger();
    EXPECT_EQ(quits_, 1);
    window_.show();
    closeWindow();
    EXPECT_EQ(window_.closes, 1);
}

TEST_F(DesktopTest, WithATrayAndTheSettingOffClosingQuitsThroughTheProgramsQuit) {
    auto desktop = make(true);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    closeWindow();
    EXPECT_EQ(window_.closes, 1);
    // The tray took the end that came with the last window: it is asked for here, once.
    EXPECT_TRUE(QTest::qWaitFor([&] { return quits_ == 1; }, 2000));
    closeWindow();
    QCoreApplication::processEvents();
    EXPECT_EQ(quits_, 1);
}

TEST_F(DesktopTest, AlarmsReachATrayThatComesLater) {
    bool tray = false;
    DesktopSetup setup;
    setup.window = &window_;
    setup.menu = window_.file;
    setup.trayAvailable = [&tray] { return tray; };
    setup.settingsPath = dir_.filePath(QStringLiteral("desktop.conf"));
    Desktop desktop(std::move(setup));
    std::vector<QString> alarms{QStringLiteral("lost: Studio B")};
    desktop.setActiveAlarms([&] { return alarms; });
    desktop.alarmsChanged(); // no tray yet: nothing to tell
    ASSERT_EQ(desktop.tray(), nullptr);

    // The tray host came after the program: taken when the menu is next opened.
    tray = true;
    emit window_.file->aboutToShow();
    ASSERT_NE(desktop.tray(), nullptr);
    EXPECT_TRUE(desktop.tray()->alarming());
    EXPECT_TRUE(desktop.keepWatchingAction()->isEnabled());
    alarms.clear();
    desktop.alarmsChanged();
    EXPECT_FALSE(desktop.tray()->alarming());
}

TEST_F(DesktopTest, TheSettingIsKeptAndReadBack) {
    {
        auto desktop = make(true);
        EXPECT_FALSE(desktop->keepWatchingAction()->isChecked());
        desktop->keepWatchingAction()->setChecked(true);
    }
    auto again = make(true);
    EXPECT_TRUE(again->keepWatchingAction()->isChecked());
    EXPECT_TRUE(again->hidesOnClose());
    again->letCloseThrough();
    EXPECT_FALSE(again->hidesOnClose());
}

TEST_F(DesktopTest, StartAtLoginWritesAndRemovesTheEntry) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    const QString entry = dir_.filePath(QStringLiteral("autostart/qx77zt.desktop"));
    {
        auto desktop = make(false); // offered with or without a tray
        QAction* login = desktop->startAtLoginAction();
        EXPECT_TRUE(login->isEnabled());
        EXPECT_FALSE(login->isChecked());
        login->setChecked(true);
        EXPECT_TRUE(QFile::exists(entry));
        // The menu shows what is there when it opens, also after a change made elsewhere.
        QFile::remove(entry);
        emit window_.file->aboutToShow();
        EXPECT_FALSE(login->isChecked());
        login->setChecked(true);
        login->setChecked(false);
        EXPECT_FALSE(QFile::exists(entry));
    }
    qputenv("XDG_CONFIG_HOME", old);
}

TEST(TrayFacts, ToolTipListsEveryUnitAndTheAlarms) {
    TrayFacts facts;
    EXPECT_EQ(trayToolTip(facts), QStringLiteral("QX-77ZT\nNo unit found"));
    EXPECT_FALSE(trayAlarming(facts));

    facts.units = {{QStringLiteral("Studio B"), QStringLiteral("connected"), false},
                   {QStringLiteral("QX7700000042"), QStringLiteral("unplugged"), false}};
    EXPECT_EQ(trayToolTip(facts),
              QStringLiteral("QX-77ZT\nStudio B: connected\nQX7700000042: unplugged"));
    EXPECT_FALSE(trayAlarming(facts));

    facts.units[1].over = true;
    EXPECT_TRUE(trayToolTip(facts).contains(QStringLiteral("QX7700000042: unplugged, over")));
    EXPECT_TRUE(trayAlarming(facts));

    facts.units[1].over = false;
    facts.alarms = {QStringLiteral("silence: Studio B")};
    EXPECT_TRUE(trayToolTip(facts).endsWith(QStringLiteral("\nAlarm: silence: Studio B")));
    EXPECT_TRUE(trayAlarming(facts));
}

TEST(TrayStatus, TurnsRedOnAnAlarmAndBackWhenItClears) {
    TrayFacts units;
    units.units = {{QStringLiteral("Studio B"), QStringLiteral("connected"), false}};
    std::vector<QString> alarms;
    TrayStatus tray([&] { return units; });
    tray.activeAlarms = [&] { return alarms; };
    tray.refresh();
    EXPECT_FALSE(tray.alarming());
    const QImage calm = tray.icon().icon().pixmap(32, 32).toImage();

    alarms = {QStringLiteral("silence: Studio B")};
    tray.alarmsChanged();
    EXPECT_TRUE(tray.alarming());
    EXPECT_TRUE(tray.toolTip().contains(QStringLiteral("Alarm: silence: Studio B")));
    // The red icon: the middle of the panel is mostly red.
    const QImage red = tray.icon().icon().pixmap(32, 32).toImage();
    const QColor middle = red.pixelColor(16, 4);
    EXPECT_GT(middle.red(), 2 * middle.green());
    EXPECT_NE(red, calm);

    alarms.clear();
    units.units[0].over = true; // a latched over keeps it red
    tray.refresh();
    EXPECT_TRUE(tray.alarming());
    units.units[0].over = false;
    tray.refresh();
    EXPECT_FALSE(tray.alarming());
    EXPECT_EQ(tray.icon().icon().pixmap(32, 32).toImage(), calm);

    QSignalSpy shown(&tray, &TrayStatus::showRequested);
    QSignalSpy quit(&tray, &TrayStatus::quitRequested);
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    tray.quitAction()->trigger();
    EXPECT_EQ(shown.count(), 1);
    EXPECT_EQ(quit.count(), 1);
    EXPECT_EQ(tray.menu().actions().first()->text(), QStringLiteral("Show QX-77ZT"));
}

} // namespace
} // namespace qx::background
