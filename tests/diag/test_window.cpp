// SPDX-License-Identifier: GPL-3.0-or-later
#include "diag/DiagnosticsWindow.h"
#include "tests/panel/ScriptedDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace qx {
namespace {

struct DiagnosticsWindowTest : ::testing::Test {
    test::ScriptedDialogs dialogs;
    int made = 0;
    DiagnosticsWindow w{[this] { return "report " + std::to_string(++made) + "\nsecond line\n"; },
                        dialogs};
    QTemporaryDir dir;
};

TEST_F(DiagnosticsWindowTest, ShowingMakesTheReportAfresh) {
    w.show();
    EXPECT_EQ(w.reportText(), QStringLiteral("report 1\nsecond line\n"));
    QTest::mouseClick(w.refreshButton, Qt::LeftButton);
    EXPECT_EQ(w.reportText(), QStringLiteral("report 2\nsecond line\n"));
    EXPECT_TRUE(w.text->isReadOnly());
    // Where people will look at it: keep a picture when asked to.
    if (const QByteArray shots = qgetenv("QX_SCREENSHOT_DIR"); !shots.isEmpty()) {
        w.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/diagnostics.png"));
    }
}

TEST_F(DiagnosticsWindowTest, CopyPutsTheWholeReportOnTheClipboard) {
    w.show();
    QTest::mouseClick(w.copyButton, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), w.reportText());
}

TEST_F(DiagnosticsWindowTest, SaveWritesTheReportOrSaysWhyNot) {
    w.show();
    struct Case {
        const char* name;
        QString file;
        bool saved;
    };
    const Case cases[] = {
        {"new file", dir.filePath(QStringLiteral("report.txt")), true},
        {"folder missing", dir.filePath(QStringLiteral("none/report.txt")), false},
        {"cancelled", QString(), false},
    };
    for (const Case& c : cases) {
        dialogs.shown.clear();
        dialogs.nextSaveName = c.file;
        QTest::mouseClick(w.saveButton, Qt::LeftButton);
        QFile f(c.file);
        EXPECT_EQ(f.exists(), c.saved) << c.name;
        if (c.saved) {
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(QString::fromUtf8(f.readAll()), w.reportText()) << c.name;
            EXPECT_TRUE(dialogs.shown.empty()) << c.name;
        } else if (!c.file.isEmpty()) {
            ASSERT_EQ(dialogs.shown.size(), 1u) << c.name;
            EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("Cannot save the report")))
                << c.name;
        }
    }
    EXPECT_EQ(dialogs.saveAsked.front().initialName, QStringLiteral("qx77zt-diagnostics.txt"));
}

TEST_F(DiagnosticsWindowTest, RecordingStartsStopsAndSaysWhenItHitItsBound) {
    TrafficRecorder recorder;
    w.attachRecorder(recorder, [] { return RecordingHeader{"0.1.0", "QX-77ZT"}; });
    w.show();
    EXPECT_EQ(w.recordButton->text(), QStringLiteral("Start recording…"));

    dialogs.nextSaveName = dir.filePath(QStringLiteral("none/traffic.txt"));
    QTest::mouseClick(w.recordButton, Qt::LeftButton);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(QStringLiteral("Cannot start recording")));
    EXPECT_FALSE(recorder.state().recording);

    const QString file = dir.filePath(QStringLiteral("traffic.txt"));
    dialogs.nextSaveName = file;
    QTest::mouseClick(w.recordButton, Qt::LeftButton);
    ASSERT_TRUE(recorder.state().recording);
    EXPECT_EQ(w.recordButton->text(), QStringLiteral("Stop recording"));
    recorder.received(std::array<uint8_t, 65>{1});
    QTest::mouseClick(w.recordButton, Qt::LeftButton);
    EXPECT_FALSE(recorder.state().recording);
    // The recorder's thread closes the file after the click; the line follows it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return w.recordState->text() == QStringLiteral("Recorded 1 reports in %1").arg(file);
        },
        5000))
        << w.recordState->text().toStdString();

    // Stopped by its bound while the window is open: the line follows without a click.
    ASSERT_EQ(recorder.start(file.toStdString(), {}, 400), "");
    for (int i = 0; i < 10; ++i) {
        recorder.received(std::array<uint8_t, 65>{1});
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return w.recordState->text().startsWith(
                QStringLiteral("Recording stopped at its size limit"));
        },
        5000));
    EXPECT_EQ(w.recordButton->text(), QStringLiteral("Start recording…"));
}

// The line's timer runs only while someone can see the line; a recording that stopped while
// the window was closed is told as soon as the window opens again.
TEST_F(DiagnosticsWindowTest, RecorderLineRestsWhileClosedAndCatchesUpWhenShown) {
    TrafficRecorder recorder;
    w.attachRecorder(recorder, [] { return RecordingHeader{"0.1.0", "QX-77ZT"}; });
    const auto* timer = w.findChild<QTimer*>(QStringLiteral("recorderTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive()) << "attached to a closed window";
    w.show();
    EXPECT_TRUE(timer->isActive());
    w.hide();
    EXPECT_FALSE(timer->isActive());

    const QString file = dir.filePath(QStringLiteral("traffic.txt"));
    ASSERT_EQ(recorder.start(file.toStdString(), {}, 400), "");
    for (int i = 0; i < 10; ++i) {
        recorder.received(std::array<uint8_t, 65>{1});
    }
    ASSERT_TRUE(recorder.waitWritten(std::chrono::seconds(10)));
    ASSERT_TRUE(recorder.state().stoppedAtLimit);
    w.show();
    EXPECT_TRUE(
        w.recordState->text().startsWith(QStringLiteral("Recording stopped at its size limit")));
    EXPECT_EQ(w.recordButton->text(), QStringLiteral("Start recording…"));
}

} // namespace
} // namespace qx
