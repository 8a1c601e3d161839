// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of the demo for a person to look at, not checks: the windows with their titles, the
// update path from a unit that runs normally to a finished update, and the level history's PNG.
// Run by hand:
//   QX_SHOTS_DIR=/some/folder test_panel_window --gtest_also_run_disabled_tests
//       --gtest_filter='*DemoShots*'
// No window manager draws title bars here, so each window's title is written above its picture.
#include "ScriptedDialogs.h"
#include "app/DemoControlWindow.h"
#include "app/DemoTitles.h"
#include "diag/DiagnosticsReport.h"
#include "diag/DiagnosticsWindow.h"
#include "levels/LevelHistoryWindow.h"
#include "levels/LevelMeters.h"
#include "link/LinkWorker.h"
#include "panel/umain.h"
#include "unit/UnitPort.h"
#include "unit/VirtualBench.h"
#include "update/uu.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>

namespace qx {
namespace {

// The demo's bench over the one unit plugged into the link here: its restarts reach the window
// as the device connection would bring them.
class OneUnitBench : public unit::VirtualBench {
public:
    OneUnitBench(unit::VirtualUnit& u, std::function<void(bool)> connect)
        : unit_(u), connect_(std::move(connect)) {}
    int unitCount() const override { return 1; }
    int addUnit(const unit::Identity&) override { return 0; }
    void reset() override {}
    unit::VirtualUnit& unit(int) override { return unit_; }
    void setPlugged(int, bool) override {}
    bool plugged(int) const override { return true; }
    void restart(int, bool boot) override {
        unit_.restart(boot);
        connect_(boot);
    }
    void setOpenable(int, bool) override {}

private:
    unit::VirtualUnit& unit_;
    std::function<void(bool)> connect_;
};

QImage titled(QWidget* window, const QString& extra = {}) {
    const QImage body = window->grab().toImage();
    const QFont font(QStringLiteral("DejaVu Sans"), 10, QFont::Bold);
    const QFontMetrics fm(font);
    const int bar = fm.height() + 8;
    const int extraLines = extra.isEmpty() ? 0 : int(extra.count(QLatin1Char('\n'))) + 1;
    const int below = extraLines * (fm.height() + 2) + (extraLines > 0 ? 8 : 0);
    int width = body.width();
    for (const QString& line : extra.split(QLatin1Char('\n'))) {
        width = std::max(width, fm.horizontalAdvance(line) + 12);
    }
    width = std::max(width, fm.horizontalAdvance(window->windowTitle()) + 16);
    QImage out(width, bar + body.height() + below, QImage::Format_RGB32);
    out.fill(QColor(250, 250, 250));
    QPainter p(&out);
    p.fillRect(QRect(0, 0, width, bar), QColor(60, 70, 90));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(8, 0, width - 8, bar), Qt::AlignVCenter | Qt::AlignLeft,
               window->windowTitle());
    p.drawImage(0, bar, body);
    if (extraLines > 0) {
        p.setPen(QColor(40, 40, 40));
        QFont plain = font;
        plain.setBold(false);
        p.setFont(plain);
        p.drawText(QRect(6, bar + body.height() + 4, width - 12, below), Qt::AlignLeft, extra);
    }
    return out;
}

// Pictures side by side, top-aligned.
QImage sheet(const std::vector<QImage>& pictures) {
    int w = 10;
    int h = 0;
    for (const QImage& i : pictures) {
        w += i.width() + 10;
        h = std::max(h, i.height());
    }
    QImage out(w, h + 20, QImage::Format_RGB32);
    out.fill(QColor(200, 205, 210));
    QPainter p(&out);
    int x = 10;
    for (const QImage& i : pictures) {
        p.drawImage(x, 10, i);
        x += i.width() + 10;
    }
    return out;
}

struct DemoShots : ::testing::Test {
    LinkState link;
    unit::VirtualUnit unit;
    unit::UnitPort port{unit};
    test::ScriptedDialogs dialogs;
    Tfu tfu{link, dialogs};
    Receiver receiver{link, &tfu};
    Tfmain w{link, tfu, dialogs};
    std::unique_ptr<Tthr> worker;
    QString dir;

    void connectAs(bool boot) {
        link.connected = true;
        link.bootMode = boot;
        if (boot) {
            link.abandonSettingsWrite();
        }
        tfu.setDeviceFields(QString::fromStdString(unit.product()), QStringLiteral("QX7700000042"),
                            QStringLiteral("1.2"));
        tfu.setUpdateButtonsEnabled(boot);
        w.Cont(!boot);
    }
    void SetUp() override {
        dir = qEnvironmentVariable("QX_SHOTS_DIR", QStringLiteral("/tmp/qx-shots"));
        QDir().mkpath(dir);
        port.setInputHandler(
            [this](const THIDreport& r, uint8_t n) { receiver.onInputReport(r, n); });
        ASSERT_EQ(port.scanForDevices(), 1);
        ASSERT_TRUE(port.openDevice(0));
        worker = std::make_unique<Tthr>(link, port, [this] { w.requestRefresh(); });
    }
    void TearDown() override {
        unit.setRestartHandler({});
        worker.reset();
        port.setInputHandler({});
    }
    void save(const QImage& image, const char* name) {
        ASSERT_TRUE(image.save(dir + QLatin1Char('/') + QLatin1String(name)));
    }
};

TEST_F(DemoShots, DISABLED_UpdatePathTitlesAndHistory) {
    DemoTitles titles;
    OneUnitBench bench(unit, [this](bool boot) {
        QMetaObject::invokeMethod(
            &w, [this, boot] { connectAs(boot); }, Qt::QueuedConnection);
    });
    DemoControlWindow control(bench);
    // The unit's own restart after the update comes through the bench, as through the library.
    unit.setRestartHandler([&bench](bool boot) { bench.restart(0, boot); });
    tfu.setPackageStart(QStringLiteral(QX_DEMO_PACKAGE));
    tfu.setBootLoaderHow(
        QStringLiteral("press \"Restart in boot mode\" in the \"Virtual QX-77ZT\" window, and "
                       "\"Select file\" comes on."));
    unit.setLevelPattern(unit::LevelPattern::Overload);
    connectAs(false);
    w.show();
    control.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
    QTest::qWait(2500); // readings, an over or two

    // Titles: the main window, the control window, the level history, a message.
    w.HIST->trigger();
    levels::LevelHistoryWindow* history = w.levelMeters()->historyWindow();
    ASSERT_NE(history, nullptr);
    history->resize(700, 300);
    DiagnosticsWindow diagnostics(
        [this] {
            DiagnosticsFacts facts;
            facts.madeAt = reportTime(std::time(nullptr));
            facts.program = programFacts();
            facts.program.demo = true;
            facts.program.qtVersion = qVersion();
            facts.system = systemFacts();
            facts.unitNode = NodeFacts{"virtual/unit0", ENOENT};
            facts.link = linkFacts(link);
            return formatReport(facts);
        },
        dialogs, &w);
    diagnostics.show();
    QTest::qWait(200);
    save(sheet({titled(&w), titled(&control), titled(&diagnostics)}), "demo-titles.png");
    save(titled(history), "demo-title-history.png");
    diagnostics.hide();

    // The update path: the window opened over a unit that runs normally...
    QImage greyed, boot, chosen;
    QString dialogFolder, dialogFile;
    QTimer::singleShot(300, &tfu, [&] {
        greyed = sheet(
            {titled(&w),
             titled(&tfu, QStringLiteral("Tooltip of \"Select file\":\n") + tfu.select->toolTip()),
             titled(&control)});
        // ...the unit put in its boot loader from the control window, which the update window
        // leaves usable...
        QTest::mouseClick(control.windowHandle(), Qt::LeftButton, {},
                          control.bootRestart->mapTo(&control, QPoint(10, 10)));
        QTimer::singleShot(500, &tfu, [&] {
            boot = sheet({titled(&w), titled(&tfu), titled(&control)});
            // ...the open dialog at the sample package...
            QTimer::singleShot(300, [&] {
                for (QWidget* top : QApplication::topLevelWidgets()) {
                    if (auto* fd = qobject_cast<QFileDialog*>(top);
                        fd != nullptr && fd->isVisible()) {
                        chosen = titled(fd);
                        dialogFolder = fd->directory().absolutePath();
                        dialogFile = fd->selectedFiles().value(0);
                        QMetaObject::invokeMethod(fd, "accept", Qt::QueuedConnection);
                    }
                }
            });
            QtDialogs real;
            dialogs.nextOpenName = real.openFileName(&tfu, QStringLiteral(QX_DEMO_PACKAGE),
                                                     QStringLiteral("Update File (*.orbu)"));
            // ...and the update itself.
            tfu.select->click();
        });
    });
    w.UPD->trigger();
    ASSERT_FALSE(greyed.isNull());
    ASSERT_FALSE(boot.isNull());
    save(greyed, "demo-update-1-normal.png");
    save(boot, "demo-update-2-boot-loader.png");
    if (!chosen.isNull()) {
        save(chosen, "demo-update-3-file-dialog.png");
    }
    std::printf("file dialog: folder %s, file %s\n", qPrintable(dialogFolder),
                qPrintable(dialogFile));
    // The unit restarted in normal mode after its verdict; the window reconnects.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !unit.bootMode() && !link.bootMode; }, 10000));
    control.showState();
    QTest::qWait(800);
    save(sheet({titled(&w), titled(&control)}), "demo-update-4-after.png");
    std::printf("messages:");
    for (const auto& m : dialogs.shown) {
        std::printf(" [%s]", qPrintable(m.text));
    }
    std::printf("\n");

    // The level history as exported.
    w.HIST->trigger();
    dialogs.nextSaveName = dir + QStringLiteral("/level-history.png");
    ASSERT_TRUE(history->exportPng());
}

} // namespace
} // namespace qx
