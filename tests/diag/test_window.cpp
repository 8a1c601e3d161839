#include "diag/DiagnosticsWindow.h"
#include "tests/panel/ScriptedDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

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

} // namespace
} // namespace qx
