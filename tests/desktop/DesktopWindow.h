#pragma once
// The real main window for the desktop tests: the shared main-window rig, but with the desktop's
// own answer to whether a notification area exists and a sound player chosen by the test.
#include "support/MainWindowRig.h"

class TDesktopWindow : public TMainWindowRig {
public:
    explicit TDesktopWindow(ISoundPlayer& sound) {
        SoundPlayer = &sound;
        TrayAvailable = std::nullopt;
    }
};
