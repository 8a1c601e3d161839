// SPDX-License-Identifier: GPL-3.0-or-later
// The main() of test programs that need a Qt application object for their event loop, timers or
// widgets. QX_TEST_APP_WIDGETS, QX_TEST_APP_GUI or neither picks QApplication, QGuiApplication or
// QCoreApplication.
#if defined(QX_TEST_APP_WIDGETS)
#include <QApplication>
using TestApplication = QApplication;
#elif defined(QX_TEST_APP_GUI)
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__) && (defined(QX_TEST_APP_WIDGETS) || defined(QX_TEST_APP_GUI))
// Qt is not built for ThreadSanitizer: its thread pool (used by QtGui to convert and fill large
// images while the windows paint) hands work over through locks the sanitizer cannot see, so the
// heap and memmove calls made inside Qt look like races. Accesses made by Qt's own code are left
// out; every access of the program's code is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n";
}
#endif

int main(int argc, char** argv) {
    // Test discovery runs without the offscreen setting too, and nothing here needs a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
