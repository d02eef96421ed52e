#pragma once
// The pseudo-terminal proxy in front of one guarded modem: holds the device's UUCP lock, publishes a
// pseudo-terminal under the stable link, and while a host has the link open passes bytes both ways,
// keeps the device's line settings and DTR in step with what the host sets, and lets the modem line
// logic hold dials until a guard decided. The host's opens and closes are seen through inotify on
// the terminal node, since the proxy keeps a descriptor of its own open on it.
#include "uGuardRegistry.h"
#include "uModemLine.h"
#include "uPollLoop.h"
#include "uServiceConfig.h"
#include "uUucpLock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <termios.h>
#include <vector>

struct TProxySettings {
    int AnswerBoundMs = 600000;
    bool NoGuardAllowsDial = false;
    std::string LockDir = "/var/lock";
    std::string EtcDir = "/etc";
};

class TModemProxy {
public:
    struct TContext {
        TPollLoop& Loop;
        TGuardRegistry& Guards;
        std::function<std::int64_t()> NowMs; // the refusal memory's clock
        std::function<void(const std::string&)> Log;
        std::function<std::uint32_t()> NewCall;
        std::function<void(std::uint32_t call, std::uint32_t state)> CallState;
    };

    TModemProxy(TContext context, TGuardedModem modem, TProxySettings settings);
    ~TModemProxy();
    TModemProxy(const TModemProxy&) = delete;
    TModemProxy& operator=(const TModemProxy&) = delete;

    bool Start(std::string* why);
    void SetSettings(const TProxySettings& settings) { FSettings = settings; }
    const TGuardedModem& Modem() const { return FModem; }
    const std::string& TerminalPath() const { return FSlavePath; }
    std::uint32_t Call() const { return FLine.Call(); }
    std::uint32_t CallStateValue() const { return FLine.CallStateValue(); }
    // The RequestTag of a dial now: one value per program (the oldest holder of the port) and port.
    std::uint32_t CurrentRequestTag();

private:
    bool OpenTerminal(std::string* why);
    void CloseTerminal();
    void DrainInotify();
    void StartSession();
    void EndSession();
    void HangUpHost(const char* why);
    void OnMaster(short revents);
    void OnDevice(short revents);
    void OnTick();
    void SyncLineSettings();
    void ApplyDeviceSettings(const termios& host);
    void SetDtr(bool on);
    void ToHost(std::string_view bytes);
    void ToDevice(std::string_view bytes);
    void Flush();
    void UpdateEvents();
    void AskGuard(const TDialAttempt& attempt);
    void StartLineTimer(int ms);
    void Log(const std::string& text) const;

    TContext FContext;
    TGuardedModem FModem;
    TProxySettings FSettings;
    TUucpLock FLock;
    TDialPolicy FPolicy;
    TModemLine FLine;
    int FMaster = -1, FKeeper = -1, FInotify = -1, FDevice = -1;
    std::string FSlavePath;
    int FHostOpens = 0;
    std::uint64_t FTerminalGeneration = 0;
    bool FSession = false;
    std::uint32_t FSessionTag = 0;
    std::vector<pid_t> FSessionHolders; // the processes that had the port open at the session's first dial
    bool FHaveHostSettings = false;
    termios FHostSettings{};
    bool FDtrDown = false;
    bool FCarrierSeen = false;
    std::uint64_t FTick = 0;
    std::uint64_t FLineTimer = 0;
    bool FHostOutputDropped = false;
    std::string FToHost, FToDevice;
    std::unique_ptr<TGuardQuery> FQuery;
};
