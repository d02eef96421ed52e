#pragma once
// Port: the system's telephony service as the line monitor uses it. The calls follow the telephony
// API the monitor was written against (initialise, negotiate, capabilities, open, close, release a
// call, shut down), with its result convention: 0 is success, a negative value an error.
//
// Reports (call-state changes) are not delivered on a thread of the service: the implementation
// exposes a file descriptor that becomes readable when reports are pending, the shell watches it on
// the UI thread and calls DispatchReports there, which raises OnReport once per report.
#include <cstdint>
#include <functional>
#include <string>

// Values of the published telephony API that the monitor and the service share.
inline constexpr std::uint32_t kLineCallStateMessage = 2; // LINE_CALLSTATE
inline constexpr std::uint32_t kLineCallStateIdle = 0x1;
inline constexpr std::uint32_t kLineCallStateOffering = 0x2;
inline constexpr std::uint32_t kLineCallStateDialing = 0x10;
inline constexpr std::uint32_t kLineCallStateBusy = 0x40;
inline constexpr std::uint32_t kLineCallStateConnected = 0x100;
inline constexpr std::uint32_t kLineCallStateDisconnected = 0x4000;
inline constexpr std::uint32_t kLineMediaModeInteractiveVoice = 0x4;
inline constexpr std::uint32_t kLineMediaModeDataModem = 0x10;
inline constexpr std::uint32_t kLineCallPrivilegeMonitor = 0x2;
inline constexpr std::uint32_t kLineApiVersionLow = 0x10000;
inline constexpr std::uint32_t kLineApiVersionHigh = 0x10000000;

struct TLineDevCaps {
    std::uint32_t MediaModes = 0;
    std::string LineName;
};

class ITelephony {
public:
    virtual ~ITelephony() = default;

    // Starts using the service. On success returns 0 with the application handle (never 0) and the
    // number of line devices; a negative result when there is no service.
    virtual long Initialize(std::uint32_t& lineApp, std::uint32_t& deviceCount) = 0;
    virtual long NegotiateApiVersion(std::uint32_t lineApp, std::uint32_t device, std::uint32_t lowVersion,
                                     std::uint32_t highVersion, std::uint32_t& apiVersion) = 0;
    virtual long GetDevCaps(std::uint32_t lineApp, std::uint32_t device, std::uint32_t apiVersion,
                            std::uint32_t extVersion, TLineDevCaps& caps) = 0;
    // Opens a line; with monitor privileges the service reports every call on it.
    virtual long Open(std::uint32_t lineApp, std::uint32_t device, std::uint32_t& line,
                      std::uint32_t apiVersion, std::uint32_t extVersion, std::uintptr_t callbackInstance,
                      std::uint32_t privileges, std::uint32_t mediaModes) = 0;
    virtual long Close(std::uint32_t line) = 0;
    virtual long DeallocateCall(std::uint32_t call) = 0;
    virtual long Shutdown(std::uint32_t lineApp) = 0;

    // Readable while reports are pending; -1 while the service is not in use.
    virtual int EventFd() const = 0;
    // Reads what is pending and raises OnReport for each report, on the calling thread.
    virtual void DispatchReports() = 0;

    // One report: device (the call handle for call messages), message, callback instance, three parameters.
    std::function<void(std::uint32_t device, std::uint32_t message, std::uintptr_t instance,
                       std::uintptr_t param1, std::uintptr_t param2, std::uintptr_t param3)>
        OnReport;
};
