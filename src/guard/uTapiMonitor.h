#pragma once
// The telephony line monitor: opens every data-modem line of the telephony service with monitor
// rights and turns its call-state reports into three events for the main window.
#include "platform/ITelephony.h"

#include <cstdint>
#include <functional>
#include <vector>

enum class TCallStateEvent : std::uint8_t {
    cseConnected = 0,
    cseDialing = 1,
    cseIdle = 2,
};

class TTapiMonitor {
public:
    explicit TTapiMonitor(ITelephony& telephony);
    ~TTapiMonitor();
    TTapiMonitor(const TTapiMonitor&) = delete;
    TTapiMonitor& operator=(const TTapiMonitor&) = delete;

    // Initialises the service and opens the lines; true when at least one line is open.
    bool Start();
    // The six values of a telephony callback; raises OnCallState.
    void LineCallback(std::uint32_t device, std::uint32_t message, std::uintptr_t instance,
                      std::uintptr_t param1, std::uintptr_t param2, std::uintptr_t param3);

    // The shell watches EventFd on the UI thread and calls ProcessReports when it is readable.
    int EventFd() const { return FTelephony.EventFd(); }
    void ProcessReports() { FTelephony.DispatchReports(); }

    std::uint32_t LineApp() const { return FLineApp; }
    const std::vector<std::uint32_t>& Lines() const { return FLines; }

    // Sender: the monitor; unset = every report is ignored.
    std::function<void(TTapiMonitor& sender, TCallStateEvent state)> OnCallState;

private:
    ITelephony& FTelephony;
    std::uint32_t FLineApp = 0;
    std::vector<std::uint32_t> FLines;
};
