// Main of the tray suite: the X display and the session bus come first, then the application on
// the xcb platform (the only one whose tray speaks to a StatusNotifierWatcher), then the tests.
#include "TrayDesktop.h"

#include <QApplication>
#include <gmock/gmock.h>

#include <cstring>

namespace {
std::string GMissing = "the desktop was not started";
}

const std::string& TrayDesktopMissing() {
    return GMissing;
}

bool TTrayDesktop::Start(std::string& reason) {
    for (const char* program : {"Xvfb", "dbus-daemon"})
        if (!HasProgram(program)) {
            reason = std::string(program) + " is not installed";
            return false;
        }
    // The server picks a free display itself and names it on the given descriptor.
    if (!FXServer.Start({"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"})) {
        reason = "Xvfb did not start";
        return false;
    }
    const std::string display = FXServer.ReadLine(std::chrono::seconds(20));
    if (display.empty()) {
        reason = "Xvfb named no display";
        Stop();
        return false;
    }
    Display = ":" + display;
    if (!FBus.Start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"})) {
        reason = "dbus-daemon did not start";
        Stop();
        return false;
    }
    BusAddress = FBus.ReadLine(std::chrono::seconds(20));
    if (BusAddress.empty()) {
        reason = "dbus-daemon gave no address";
        Stop();
        return false;
    }
    setenv("DISPLAY", Display.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", BusAddress.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // A theme plugin of the machine could bring its own tray; the generic one is tested here.
    unsetenv("QT_QPA_PLATFORMTHEME");
    return true;
}

void TTrayDesktop::Stop() {
    FBus.Stop();
    FXServer.Stop();
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], kFakeWatcherArg) == 0)
        return RunFakeWatcher(argc, argv);

    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    TTrayDesktop desktop;
    if (!listing && desktop.Start(GMissing))
        GMissing.clear();
    if (!GMissing.empty())
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleMock(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    desktop.Stop();
    return result;
}
