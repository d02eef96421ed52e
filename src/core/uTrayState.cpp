#include "core/uTrayState.h"

int TrayImageCount(TTrayImageList list) {
    switch (list) {
    case TTrayImageList::tilTrayIcon:
        return 4;
    case TTrayImageList::tilScanAnimate:
        return 8;
    case TTrayImageList::tilUpdateAnimate:
        return 4;
    case TTrayImageList::tilAlarmAnimate:
        return 2;
    }
    return 1;
}

TTrayStateMachine::TTrayStateMachine(ITrayView& view, ITimerFactory& timers)
    : FView(view), FAnimationTimer(timers.CreateTimer()) {
    FAnimationTimer->SetSingleShot(false);
    FAnimationTimer->OnTimer = [this] {
        NextFrame();
    };
}

void TTrayStateMachine::SetTrayState(int state) {
    if (state < FTrayState || state > trayReset)
        return;
    FTrayState = static_cast<TTrayState>(state);
    switch (FTrayState) {
    case trayIdle:
        FView.SetTrayHint(kHintIdle);
        ShowStill(kTrayIdleImage);
        break;
    case trayConnected:
        ShowStill(kTrayConnectedImage);
        FView.SetTrayHint(kHintConnected + FView.ConnectedNumber());
        break;
    case trayScanning:
        Animate(TTrayImageList::tilScanAnimate, kTrayScanInterval);
        FView.SetTrayHint(kHintScanning);
        break;
    case trayUpdating:
        Animate(TTrayImageList::tilUpdateAnimate, kTrayUpdateInterval);
        FView.SetTrayHint(kHintUpdating);
        break;
    case trayAlarm:
        Animate(TTrayImageList::tilAlarmAnimate, kTrayAlarmInterval);
        FView.SetTrayHint(kHintAlarm);
        FView.StartAlarmSound();
        break;
    case trayReset:
        FTrayState = trayIdle;
        SetTrayState(trayIdle);
        break;
    }
    if (FTrayState != trayAlarm)
        FView.StopSound();
    if (FView.IsConnectionUp() && FTrayState == trayIdle)
        SetTrayState(trayConnected);
}

void TTrayStateMachine::ShowLogoAnimation() {
    Animate(TTrayImageList::tilScanAnimate, kTrayScanInterval);
}

bool TTrayStateMachine::IsAnimating() const {
    return FAnimationTimer->IsActive();
}

int TTrayStateMachine::AnimationInterval() const {
    return FAnimationTimer->Interval();
}

void TTrayStateMachine::ShowStill(int index) {
    FAnimationTimer->Stop();
    FList = TTrayImageList::tilTrayIcon;
    FFrame = index;
    FView.ShowTrayImage(FList, FFrame);
}

void TTrayStateMachine::Animate(TTrayImageList list, int interval) {
    FAnimationTimer->Stop();
    FList = list;
    FFrame = 0;
    FView.ShowTrayImage(FList, FFrame);
    FAnimationTimer->SetInterval(interval);
    FAnimationTimer->Start();
}

void TTrayStateMachine::NextFrame() {
    FFrame = (FFrame + 1) % TrayImageCount(FList);
    FView.ShowTrayImage(FList, FFrame);
}
