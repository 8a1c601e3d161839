// SPDX-License-Identifier: GPL-3.0-or-later
// The demo's windows carry "(demo)" in their titles, whenever they are shown or renamed; the
// real program's do not.
#include "app/DemoTitles.h"

#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace qx {
namespace {

TEST(DemoTitles, MarkOnce) {
    struct Row {
        const char* title;
        const char* marked;
    };
    const Row rows[] = {
        {"QX-77ZT", "QX-77ZT (demo)"},
        {"Update FW", "Update FW (demo)"},
        {"QX-77ZT (demo)", "QX-77ZT (demo)"},
        {"", ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(demoTitle(QString::fromUtf8(r.title)), QString::fromUtf8(r.marked)) << r.title;
    }
}

TEST(DemoTitles, EveryShownWindowOfTheDemoAndNoneOfTheRealProgram) {
    for (const bool demo : {true, false}) {
        SCOPED_TRACE(demo ? "demo" : "real program");
        std::optional<DemoTitles> titles;
        QMainWindow shownBefore;
        shownBefore.setWindowTitle(QStringLiteral("Level history"));
        shownBefore.show();
        if (demo) {
            titles.emplace();
        }
        QMainWindow main;
        main.setWindowTitle(QStringLiteral("QX-77ZT"));
        QDialog update(&main);
        update.setWindowTitle(QStringLiteral("Update FW"));
        QWidget child(&main);
        child.setWindowTitle(QStringLiteral("not a window"));
        QMenu popup(&main);
        popup.setTitle(QStringLiteral("File"));
        const auto suffix = [demo](const char* title) {
            return QString::fromUtf8(title) + (demo ? QStringLiteral(" (demo)") : QString());
        };

        EXPECT_EQ(main.windowTitle(), QStringLiteral("QX-77ZT")) << "marked when shown";
        main.show();
        update.show();
        child.show();
        popup.popup(QPoint(0, 0));
        EXPECT_EQ(main.windowTitle(), suffix("QX-77ZT"));
        EXPECT_EQ(update.windowTitle(), suffix("Update FW"));
        EXPECT_EQ(shownBefore.windowTitle(), suffix("Level history"));
        EXPECT_EQ(child.windowTitle(), QStringLiteral("not a window"));
        EXPECT_TRUE(popup.windowTitle().isEmpty());
        update.setWindowTitle(QStringLiteral("Update firmware"));
        EXPECT_EQ(update.windowTitle(), suffix("Update firmware")) << "and when renamed";
        popup.close();

        // A message box, modal with a loop of its own.
        QString boxTitle;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                    boxTitle = box->windowTitle();
                    box->accept();
                }
            }
        });
        QMessageBox::information(&main, QStringLiteral("INFO"), QStringLiteral("Model: "));
        EXPECT_EQ(boxTitle, suffix("INFO"));
    }
}

} // namespace
} // namespace qx
