// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>

#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built for ThreadSanitizer: its thread pool (used by QtGui to fill large images while
// the windows paint) hands work over through locks the sanitizer cannot see, so the heap and
// memmove calls made inside Qt look like races. Accesses made by Qt's own code are left out; every
// access of the program's code is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n";
}
#endif

int main(int argc, char** argv) {
    // Test discovery runs without the offscreen setting too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("QX-77ZT"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
