// Test main for widget suites: one QApplication for the whole run, on the offscreen platform
// unless the caller chose another one (Xvfb, for looking at the windows).
#include <QApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
