#pragma once
// The tray icon's state machine: which picture, animation, hint and sound the notification-area
// icon shows. The state number is also its priority: a request below the state shown is ignored,
// trayReset (the highest) always passes and lands on trayIdle, or on trayConnected while a
// connection is up. The machine owns the frame stepping of the animations; the view only draws.
#include "platform/ITimer.h"

#include <cstdint>
#include <memory>
#include <string>

enum TTrayState : std::uint8_t {
    trayIdle = 0,
    trayConnected = 1,
    trayScanning = 2,
    trayUpdating = 3,
    trayAlarm = 4,
    trayReset = 5,
};

// The image lists of the main window, all 32 by 32.
enum class TTrayImageList { tilTrayIcon, tilScanAnimate, tilUpdateAnimate, tilAlarmAnimate };

// Frames in each list: ilTrayIcon 4, ilTrayScanAnimate 8, ilTrayUpdateAnimate 4, ilTrayAlarmAnimate 2.
int TrayImageCount(TTrayImageList list);

inline constexpr int kTrayIdleImage = 2;
inline constexpr int kTrayConnectedImage = 3;
inline constexpr int kTrayScanInterval = 120;
inline constexpr int kTrayUpdateInterval = 250;
inline constexpr int kTrayAlarmInterval = 400;

inline constexpr const char* kHintIdle = "QmVardel włączony";
inline constexpr const char* kHintConnected = "Połączony z numerem: ";
inline constexpr const char* kHintScanning = "Skanuje w poszukiwaniu dialerów";
inline constexpr const char* kHintUpdating = "Aktualizuje bazę dialerów";
inline constexpr const char* kHintAlarm = "Alarm - kliknij aby sprawdzić";

// What the tray presenter offers the machine.
class ITrayView {
public:
    virtual ~ITrayView() = default;
    virtual void ShowTrayImage(TTrayImageList list, int index) = 0;
    virtual void SetTrayHint(const std::string& hint) = 0;
    // Plays the alarm sound once if the sound option is on and the sound file exists.
    virtual void StartAlarmSound() = 0;
    // Cuts off whatever sound the program is playing.
    virtual void StopSound() = 0;
    // A connection is up exactly while the connection timer runs.
    virtual bool IsConnectionUp() const = 0;
    virtual std::string ConnectedNumber() const = 0;
};

class TTrayStateMachine {
public:
    TTrayStateMachine(ITrayView& view, ITimerFactory& timers);

    TTrayState State() const { return FTrayState; }
    // Requests a state (0 to 5); see the file comment for the priority rule.
    void SetTrayState(int state);
    // The logo click: the scanning animation without a change of state or hint; the next accepted
    // SetTrayState replaces it.
    void ShowLogoAnimation();

    // What is drawn now, for the presenter and for tests.
    TTrayImageList CurrentList() const { return FList; }
    int CurrentFrame() const { return FFrame; }
    bool IsAnimating() const;
    int AnimationInterval() const;

private:
    void ShowStill(int index);
    void Animate(TTrayImageList list, int interval);
    void NextFrame();

    ITrayView& FView;
    std::unique_ptr<ITimer> FAnimationTimer;
    TTrayState FTrayState = trayIdle;
    TTrayImageList FList = TTrayImageList::tilTrayIcon;
    int FFrame = kTrayIdleImage;
};
