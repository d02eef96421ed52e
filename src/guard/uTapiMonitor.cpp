#include "guard/uTapiMonitor.h"

TTapiMonitor::TTapiMonitor(ITelephony& telephony) : FTelephony(telephony) {
    FTelephony.OnReport = [this](std::uint32_t device, std::uint32_t message, std::uintptr_t instance,
                                 std::uintptr_t p1, std::uintptr_t p2, std::uintptr_t p3) {
        LineCallback(device, message, instance, p1, p2, p3);
    };
}

TTapiMonitor::~TTapiMonitor() {
    while (!FLines.empty()) {
        FTelephony.Close(FLines.front());
        FLines.erase(FLines.begin());
    }
    if (FLineApp != 0)
        FTelephony.Shutdown(FLineApp);
    FTelephony.OnReport = nullptr;
}

bool TTapiMonitor::Start() {
    std::uint32_t deviceCount = 0;
    std::uint32_t lineApp = 0;
    if (FTelephony.Initialize(lineApp, deviceCount) < 0) {
        FLineApp = 0;
        return false;
    }
    FLineApp = lineApp;
    if (deviceCount == 0) {
        FTelephony.Shutdown(FLineApp);
        FLineApp = 0;
        return false;
    }
    for (std::uint32_t device = 0; device < deviceCount; ++device) {
        std::uint32_t apiVersion = 0;
        if (FTelephony.NegotiateApiVersion(FLineApp, device, kLineApiVersionLow, kLineApiVersionHigh,
                                           apiVersion) < 0)
            continue;
        TLineDevCaps caps;
        if (FTelephony.GetDevCaps(FLineApp, device, apiVersion, 0, caps) != 0)
            continue;
        if ((caps.MediaModes & kLineMediaModeDataModem) == 0)
            continue;
        std::uint32_t line = 0;
        if (FTelephony.Open(FLineApp, device, line, apiVersion, 0, 0, kLineCallPrivilegeMonitor,
                            kLineMediaModeDataModem) == 0)
            FLines.push_back(line);
    }
    if (FLines.empty()) {
        FTelephony.Shutdown(FLineApp);
        FLineApp = 0;
    }
    return !FLines.empty();
}

void TTapiMonitor::LineCallback(std::uint32_t device, std::uint32_t message, std::uintptr_t /*instance*/,
                                std::uintptr_t param1, std::uintptr_t /*param2*/, std::uintptr_t /*param3*/) {
    if (!OnCallState || message != kLineCallStateMessage)
        return;
    const std::uint32_t call = device;
    switch (param1) {
    case kLineCallStateIdle:
        if (call != 0) {
            FTelephony.DeallocateCall(call);
            OnCallState(*this, TCallStateEvent::cseIdle);
        }
        break;
    case kLineCallStateDialing:
        OnCallState(*this, TCallStateEvent::cseDialing);
        break;
    case kLineCallStateConnected:
        if (call != 0)
            OnCallState(*this, TCallStateEvent::cseConnected);
        break;
    case kLineCallStateDisconnected:
        OnCallState(*this, TCallStateEvent::cseIdle);
        break;
    default:
        break;
    }
}
