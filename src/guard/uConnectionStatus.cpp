#include "guard/uConnectionStatus.h"

TConnectionStatus::TConnectionStatus(const TConnectionStatusContext& context)
    : FContext(context), FTimer(context.Timers.CreateTimer()) {
    FTimer->SetInterval(1000);
    FTimer->OnTimer = [this] {
        Tick();
    };
}

void TConnectionStatus::LineCallState(TCallStateEvent state) {
    switch (state) {
    case TCallStateEvent::cseConnected:
        // The line reports no number; the last dial request's is the one connected.
        SetConnected(FContext.LastDialed.LastNumber());
        break;
    case TCallStateEvent::cseDialing:
        FContext.View.ShowDialing();
        break;
    case TCallStateEvent::cseIdle:
        SetNotConnected();
        break;
    }
}

void TConnectionStatus::SetConnected(const std::string& number) {
    FSeconds = 0;
    FConnectedNumber = number;
    FTimer->Start();
    FContext.View.ShowConnected(number);
    if (OnConnected)
        OnConnected(number);
}

void TConnectionStatus::SetNotConnected() {
    FSeconds = 0;
    FTimer->Stop();
    FConnectedNumber.clear();
    FContext.View.ShowNotConnected();
    if (OnEnded)
        OnEnded();
}

void TConnectionStatus::Tick() {
    ++FSeconds;
    FContext.View.ShowConnectionTime(FSeconds);
    if (OnSecond)
        OnSecond(FConnectedNumber);
}
