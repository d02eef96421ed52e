#pragma once
// The hook service as one object: its configuration, the guard registry and control socket, one
// modem proxy per guarded device with the line feed, and the program-start interception. Runs on
// the calling thread (the interception has its own). Reload applies a new configuration: proxies of
// modems that stay are kept with their sessions, others are stopped or started.
#include "uExecGuard.h"
#include "uGuardRegistry.h"
#include "uModemProxy.h"
#include "uPollLoop.h"
#include "uServiceConfig.h"
#include "uServiceSockets.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TService {
public:
    explicit TService(std::function<void(const std::string&)> log,
                      std::function<std::int64_t()> nowMs = &TPollLoop::NowMs);
    ~TService();
    TService(const TService&) = delete;
    TService& operator=(const TService&) = delete;

    // Listens, starts the proxies and the interception. False (with why) when the sockets cannot be
    // created; a modem or the interception that cannot start is logged and retried on reload.
    bool Start(const TServiceConfig& config, std::string* why);
    void Reload(const TServiceConfig& config);
    // A service started by a guard (not by the system) ends once no guard has been registered for
    // graceMs; the check runs on the loop with the service's clock.
    void EndWhenUnused(int graceMs);
    // Pings the service manager's watchdog every pingMs while both loops (this one and the
    // program-start interception's) are turning.
    void StartWatchdog(int pingMs);
    bool Healthy() const;
    TPollLoop& Loop() { return FLoop; }
    TGuardRegistry& Guards() { return FGuards; }
    const TServiceConfig& Config() const { return FConfig; }
    std::size_t ActiveProxies() const { return FProxies.size(); }
    bool ExecGuardRunning() const { return FExecGuard.Running(); }

private:
    void StartProxies();
    void RetryLater();
    void PublishLines();
    TProxySettings ProxySettings() const;

    std::function<void(const std::string&)> FLog;
    std::function<std::int64_t()> FNowMs;
    TPollLoop FLoop;
    TGuardRegistry FGuards;
    TServiceConfig FConfig;
    TControlServer FControl;
    TLineFeed FFeed;
    std::vector<std::unique_ptr<TModemProxy>> FProxies; // one slot per configured modem, null if not running
    TExecGuard FExecGuard;
    std::vector<std::string> FExecMounts;
    std::uint32_t FNextCall = 1;
    std::uint64_t FRetryTimer = 0;
    int FGraceMs = 0;
    std::int64_t FLastGuardMs = 0;
    int FWatchdogMs = 0;
};
