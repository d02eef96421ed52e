#pragma once
// The private desktop of the tray suite: a virtual X display and a session bus started by the
// suite's main before the application exists, and a fake notification-area host (a
// StatusNotifierWatcher) that a test starts as a second copy of the suite's binary.
#include "desktop/ChildProcess.h"

#include <string>

class TTrayDesktop {
public:
    // Starts the display and the bus and points this process at them; false with the reason
    // when a program is missing or does not come up.
    bool Start(std::string& reason);
    void Stop();

    std::string BusAddress;
    std::string Display;

private:
    TChildProcess FXServer;
    TChildProcess FBus;
};

// Empty when the suite's desktop runs; otherwise why it does not (the tests skip).
const std::string& TrayDesktopMissing();

// The suite's binary run as the watcher: owns org.kde.StatusNotifierWatcher on the session bus,
// prints "ready" once it does and "item <service>" for each registered item.
int RunFakeWatcher(int argc, char** argv);
inline constexpr const char* kFakeWatcherArg = "--fake-status-notifier-watcher";
