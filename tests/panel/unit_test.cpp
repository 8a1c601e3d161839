// SPDX-License-Identifier: GPL-3.0-or-later
// The whole road: operator input on the real window, the link worker, the virtual unit's answer
// and the redraw it brings.
#include "ScriptedDialogs.h"
#include "levels/LevelMeters.h"
#include "link/LinkWorker.h"
#include "panel/UnitAccessHint.h"
#include "panel/umain.h"
#include "unit/UnitPort.h"
#include "update/uu.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace qx {
namespace {

struct LiveWindow : ::testing::Test {
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};
    Receiver receiver{link, nullptr};
    test::ScriptedDialogs dialogs;
    Tfu tfu{link, dialogs};
    Tfmain w{link, tfu, dialogs};
    std::unique_ptr<Tthr> worker; // stopped before the window goes

    void SetUp() override {
        unit.setLevelPattern(unit::LevelPattern::SteadyTone);
        port.setInputHandler(
            [this](const THIDreport& r, uint8_t n) { receiver.onInputReport(r, n); });
        ASSERT_EQ(port.scanForDevices(), 1);
        ASSERT_TRUE(port.openDevice(0));
        link.connected = true;
        tfu.setDeviceFields(QStringLiteral("QX-77ZT"), QStringLiteral("QX7700000042"),
                            QStringLiteral("1.2"));
        worker = std::make_unique<Tthr>(link, port, [this] { w.requestRefresh(); });
        w.Cont(true);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        // The first status answer shows the unit's settings.
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.levl->text() == QStringLiteral("0  "); }));
    }
    void TearDown() override {
        worker.reset();
        port.setInputHandler({});
    }
    unsigned writes() const {
        const auto c = unit.counters().byCommand;
        const auto it = c.find(cmd::kSettingsWrite);
        return it == c.end() ? 0 : it->second;
    }
    template <typename F>
    bool until(F done) {
        return QTest::qWaitFor(done, 3000);
    }
};

TEST_F(LiveWindow, ClicksReachTheUnitAndItsAnswerLightsTheButtons) {
    const unsigned before = writes();
    QTest::mousePress(w.mute, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(until([&] { return w.mute->colorStyle() == lcsRed; }));
    EXPECT_EQ(unit.settings().muteOn, 1);

    QTest::mousePress(w.dim, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(until([&] { return w.dim->colorStyle() == lcsGold; }));
    EXPECT_EQ(unit.settings().dimMode, 2);

    QTest::mousePress(w.but2, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(until([&] { return w.but2->colorStyle() == lcsGreen; }));
    EXPECT_EQ(w.but0->colorStyle(), lcsChrome);
    w.srcR->setFocus();
    QTest::keyClick(w.srcR, Qt::Key_End);
    EXPECT_TRUE(until([&] { return unit.settings().source[5] == 17; }));
    EXPECT_GE(writes(), before + 4);
    EXPECT_TRUE(until([&] { return link.writeAcked(); }));
}

TEST_F(LiveWindow, AStatusArrivingWhileTypingKeepsTheTypedGain) {
    w.gainL->setFocus();
    w.gainL->findChild<QLineEdit*>()->selectAll();
    QTest::keyClicks(w.gainL, QStringLiteral("-5"));
    ASSERT_TRUE(until([&] { return unit.settings().gainLeft == -5 && link.writeAcked(); }));

    // The unit changes on its own; its next status answers must not replace the typed value.
    DeviceSettings s = unit.settings();
    s.gainLeft = 7;
    s.muteOn = 1;
    unit.setSettings(s);
    ASSERT_TRUE(until([&] { return w.mute->colorStyle() == lcsRed; }));
    EXPECT_EQ(w.gainL->value(), -5);

    w.clearActiveControl();
    EXPECT_TRUE(until([&] { return w.gainL->value() == 7; }));
}

// Each state of the link brings its sentence, and the sentence goes as soon as the state ends.
TEST_F(LiveWindow, StatusLineSaysWhatTheLinkIsDoing) {
    const auto statusBecomes = [&](const QString& start) {
        // Looked at between the window's own ticks too, so a short state is not missed.
        return until([&] {
            w.updateStatusLine();
            return w.statusText().startsWith(start);
        });
    };
    const auto meterStale = [&] {
        return w.levelMeters()->meter(levels::LevelMeters::kLeft)->stale();
    };
    const auto faults = [&](auto set) {
        return [this, set] {
            unit::Faults f;
            set(f);
            unit.setFaults(f);
        };
    };
    const QString connected =
        QStringLiteral("QX-77ZT connected, serial QX7700000042, version 1.2.");
    ASSERT_TRUE(statusBecomes(connected));
    EXPECT_FALSE(meterStale());

    struct Row {
        const char* state;
        std::function<void()> begin;
        std::function<void()> end;
        QString sentence;
        bool stale;
    };
    const Row rows[] = {
        {"no unit", [&] { link.connected = false, w.Cont(false); },
         [&] { link.connected = true, w.Cont(true); }, QStringLiteral("No unit found"), false},
        {"boot loader", [&] { link.bootMode = true, w.Cont(false); },
         [&] { link.bootMode = false, w.Cont(true); },
         QStringLiteral("The unit is in its boot loader"), false},
        {"silent unit", faults([](unit::Faults& f) { f.silent = true; }),
         faults([](unit::Faults&) {}), QStringLiteral("The unit does not answer"), true},
        {"bad checksums", faults([](unit::Faults& f) { f.corruptCrc = true; }),
         faults([](unit::Faults&) {}), QStringLiteral("The unit's answers arrive damaged"), true},
        {"unacknowledged write",
         [&] {
             // A slow unit: its acknowledgement comes after the half second.
             unit::Faults f;
             f.delay = std::chrono::milliseconds(900);
             unit.setFaults(f);
             QTest::mousePress(w.mute, Qt::LeftButton, {}, QPoint(5, 5));
         },
         faults([](unit::Faults&) {}), QStringLiteral("Waiting for the unit to confirm"), false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.state);
        r.begin();
        EXPECT_TRUE(statusBecomes(r.sentence)) << w.statusText().toStdString();
        EXPECT_EQ(meterStale(), r.stale);
        r.end();
        EXPECT_TRUE(statusBecomes(connected)) << w.statusText().toStdString();
        EXPECT_FALSE(meterStale());
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

// Between answers the status line changes by itself, at the moment time alone changes its
// sentence, and its timer rests once nothing more can come of waiting.
TEST_F(LiveWindow, StatusLineFollowsSilenceAndWaitingByItself) {
    const auto* timer = w.findChild<QTimer*>(QStringLiteral("statusLineTimer"));
    ASSERT_NE(timer, nullptr);
    const auto says = [&](const char* start) {
        return until([&] { return w.statusText().startsWith(QLatin1String(start)); });
    };
    unit::Faults slow;
    slow.delay = std::chrono::milliseconds(900);
    unit.setFaults(slow);
    QTest::mousePress(w.mute, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(says("Waiting for the unit to confirm")) << w.statusText().toStdString();
    unit.setFaults({});
    EXPECT_TRUE(says("QX-77ZT connected")) << w.statusText().toStdString();

    unit::Faults silent;
    silent.silent = true;
    unit.setFaults(silent);
    EXPECT_TRUE(says("The unit does not answer")) << w.statusText().toStdString();
    EXPECT_TRUE(w.levelMeters()->meter(levels::LevelMeters::kLeft)->stale());
    EXPECT_FALSE(timer->isActive());
    unit.setFaults({});
    EXPECT_TRUE(says("QX-77ZT connected")) << w.statusText().toStdString();
    EXPECT_FALSE(w.levelMeters()->meter(levels::LevelMeters::kLeft)->stale());
}

TEST_F(LiveWindow, DefaultsReachTheUnit) {
    DeviceSettings s = unit.settings();
    s.preset = 3;
    s.brightness = 0;
    unit.setSettings(s);
    ASSERT_TRUE(until([&] { return w.but3->colorStyle() == lcsGreen; }));
    dialogs.answers = {QMessageBox::Ok};
    w.DEF->trigger();
    EXPECT_TRUE(until([&] { return unit.settings() == factoryDefaults(); }));
    EXPECT_TRUE(until([&] { return w.brg3->isChecked() && w.but0->colorStyle() == lcsGreen; }));
}

} // namespace
} // namespace qx

namespace qx {
namespace {

// Not a check: renders the window for a person to look at. Run with
// --gtest_also_run_disabled_tests --gtest_filter='*Screenshots*'; writes /tmp/panel-*.png.
TEST_F(LiveWindow, DISABLED_Screenshots) {
    DeviceSettings s = factoryDefaults();
    s.preset = 1;
    s.muteOn = 1;
    s.dimMode = 2;
    s.monitorMode = 1;
    s.gainLeft = -12;
    s.gainRight = 6;
    s.ballistics = 1;
    s.peakHold = 2;
    s.levelScale = 1;
    unit.setSettings(s);
    unit.setLevelPattern(unit::LevelPattern::Programme);
    ASSERT_TRUE(until([&] { return w.mute->colorStyle() == lcsRed; }));
    QTest::mousePress(w.dim, Qt::RightButton, {}, QPoint(5, 5));
    ASSERT_TRUE(until([&] { return w.dim->colorStyle() == lcsGold && link.writeAcked(); }));
    QTest::qWait(300);
    w.grab().save(QStringLiteral("/tmp/panel-connected.png"));
    for (THSSpeedButton* b : {w.but1, w.mute, w.sum}) {
        b->setFocus(Qt::TabFocusReason);
        w.grab().save(QStringLiteral("/tmp/panel-focus-%1.png").arg(b->objectName()));
    }
    w.clearActiveControl();
    const auto hint = unitAccessHint("/dev/hidraw3", UnitAccessCause::RuleMissing);
    w.showUnitHint(QString::fromStdString(hint.text), QString::fromStdString(hint.details));
    QTest::qWait(50);
    w.grab().save(QStringLiteral("/tmp/panel-hint.png"));
    w.showUnitHint({});
    unit::Faults silent;
    silent.silent = true;
    unit.setFaults(silent);
    ASSERT_TRUE(until([&] { return w.levelMeters()->meter(levels::LevelMeters::kLeft)->stale(); }));
    w.grab().save(QStringLiteral("/tmp/panel-silent.png"));
    unit::Faults slow;
    slow.delay = std::chrono::milliseconds(900);
    unit.setFaults(slow);
    ASSERT_TRUE(
        until([&] { return !w.levelMeters()->meter(levels::LevelMeters::kLeft)->stale(); }));
    QTest::mousePress(w.mute, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(until([&] {
        w.updateStatusLine();
        return w.statusText().startsWith(QStringLiteral("Waiting"));
    }));
    w.grab().save(QStringLiteral("/tmp/panel-waiting.png"));
    unit.setFaults({});
    worker.reset();
    link.bootMode = true;
    w.Cont(false);
    QTest::qWait(50);
    w.grab().save(QStringLiteral("/tmp/panel-boot.png"));
    link.bootMode = false;
    link.connected = false;
    w.Cont(false);
    QTest::qWait(50);
    w.grab().save(QStringLiteral("/tmp/panel-disconnected.png"));
    const auto refused = unitRefusedHint(128, 65);
    w.showUnitHint(QString::fromStdString(refused.text), QString::fromStdString(refused.details));
    QTest::qWait(50);
    w.grab().save(QStringLiteral("/tmp/panel-refused.png"));
}

} // namespace
} // namespace qx
