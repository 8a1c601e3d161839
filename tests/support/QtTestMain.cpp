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

int main(int argc, char** argv) {
    // Test discovery runs without the offscreen setting too, and nothing here needs a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
