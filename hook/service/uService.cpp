#include "uService.h"

#include "platform/ITelephony.h"
#include "uSdNotify.h"

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr int kRetryMs = 5000;

} // namespace

TService::TService(std::function<void(const std::string&)> log, std::function<std::int64_t()> nowMs)
    : FLog(std::move(log)), FNowMs(std::move(nowMs)), FControl(FLoop, FGuards, FLog),
      FFeed(FLoop,
            [this] {
                std::vector<qm::TFeedCallState> states;
                for (std::size_t i = 0; i < FProxies.size(); ++i)
                    if (FProxies[i] && FProxies[i]->Call() != 0)
                        states.push_back({static_cast<std::uint32_t>(i), FProxies[i]->Call(),
                                          FProxies[i]->CallStateValue()});
                return states;
            }),
      FExecGuard(FGuards, FLog) {}

TService::~TService() {
    FExecGuard.Stop();
    FProxies.clear();
}

TProxySettings TService::ProxySettings() const {
    return {FConfig.AnswerBoundSeconds * 1000, FConfig.NoGuardAllowsDial, FConfig.LockDir, FConfig.EtcDir};
}

bool TService::Start(const TServiceConfig& config, std::string* why) {
    FConfig = config;
    if (::mkdir(config.RunDir.c_str(), 0755) != 0 && errno != EEXIST) {
        *why = config.RunDir + ": " + std::strerror(errno);
        return false;
    }
    if (!FControl.Listen(config.ControlSocket(), why) || !FFeed.Listen(config.FeedSocket(), why))
        return false;
    Reload(config);
    return true;
}

void TService::Reload(const TServiceConfig& config) {
    std::vector<std::unique_ptr<TModemProxy>> kept(config.Modems.size());
    for (auto& proxy : FProxies) {
        if (!proxy)
            continue;
        for (std::size_t i = 0; i < config.Modems.size(); ++i)
            if (proxy->Modem() == config.Modems[i] && !kept[i]) {
                kept[i] = std::move(proxy);
                break;
            }
        if (proxy)
            FLog(proxy->Modem().Link + ": no longer guarded");
    }
    FProxies.clear(); // the modems that left the configuration stop here
    FProxies = std::move(kept);
    FConfig = config;
    for (auto& proxy : FProxies)
        if (proxy)
            proxy->SetSettings(ProxySettings());
    StartProxies();
    PublishLines();

    FExecGuard.SetAnswerBound(config.AnswerBoundSeconds * 1000);
    if (FExecGuard.Running() && config.ExecMounts != FExecMounts) {
        FExecGuard.Stop(); // marks cannot be taken back one by one; what is pending is allowed
        FLog("program starts: the watched filesystems change");
    }
    FExecMounts = config.ExecMounts;
    if (config.ExecGuard && !FExecGuard.Running()) {
        std::string why;
        TExecGuardSettings s;
        s.AnswerBoundMs = config.AnswerBoundSeconds * 1000;
        s.Mounts = config.ExecMounts;
        if (FExecGuard.Start(s, &why))
            FLog("program starts are guarded");
        else
            FLog("program starts are not guarded: " + why);
    } else if (!config.ExecGuard && FExecGuard.Running()) {
        FExecGuard.Stop();
        FLog("program starts are no longer guarded");
    }
}

void TService::EndWhenUnused(int graceMs) {
    FGraceMs = graceMs;
    FLastGuardMs = FNowMs();
    // Checked a few times per grace period, so the end comes at most a quarter period late.
    const int every = std::clamp(graceMs / 4, 1, 1000);
    struct TCheck {
        TService* Self;
        int Every;
        void operator()() const {
            if (Self->FGuards.Count() > 0)
                Self->FLastGuardMs = Self->FNowMs();
            else if (Self->FNowMs() - Self->FLastGuardMs >= Self->FGraceMs) {
                Self->FLog("no guard has been registered for " + std::to_string(Self->FGraceMs / 1000) +
                           " s: the service started for one ends");
                Self->FLoop.Quit();
                return;
            }
            Self->FLoop.After(Every, *this);
        }
    };
    FLoop.After(every, TCheck{this, every});
}

bool TService::Healthy() const {
    // The interception's loop beats every second; a loop stuck for five has stopped answering.
    return !FExecGuard.Running() || TPollLoop::NowMs() - FExecGuard.LastBeat() < 5000;
}

void TService::StartWatchdog(int pingMs) {
    FWatchdogMs = pingMs;
    struct TPing {
        TService* Self;
        void operator()() const {
            if (Self->Healthy())
                SdNotify("WATCHDOG=1");
            else
                Self->FLog("program starts are not being answered: the watchdog is left to act");
            Self->FLoop.After(Self->FWatchdogMs, *this);
        }
    };
    TPing{this}();
}

void TService::StartProxies() {
    bool missing = false;
    for (std::size_t i = 0; i < FConfig.Modems.size(); ++i) {
        if (FProxies[i])
            continue;
        const std::uint32_t device = static_cast<std::uint32_t>(i);
        TModemProxy::TContext ctx{FLoop,
                                  FGuards,
                                  FNowMs,
                                  FLog,
                                  [this] {
                                      std::uint32_t call = FNextCall++;
                                      if (FNextCall == 0)
                                          FNextCall = 1;
                                      return call;
                                  },
                                  [this, device](std::uint32_t call, std::uint32_t state) {
                                      FFeed.Publish({device, call, state});
                                  }};
        auto proxy = std::make_unique<TModemProxy>(ctx, FConfig.Modems[i], ProxySettings());
        std::string why;
        if (proxy->Start(&why)) {
            FLog(FConfig.Modems[i].Link + ": guarding " + FConfig.Modems[i].Device);
            FProxies[i] = std::move(proxy);
        } else {
            FLog(FConfig.Modems[i].Link + ": not guarded yet: " + why);
            missing = true;
        }
    }
    if (missing)
        RetryLater();
}

void TService::RetryLater() {
    if (FRetryTimer)
        return;
    FRetryTimer = FLoop.After(kRetryMs, [this] {
        FRetryTimer = 0;
        StartProxies();
    });
}

void TService::PublishLines() {
    std::vector<qm::TFeedLine> lines;
    for (std::size_t i = 0; i < FConfig.Modems.size(); ++i)
        lines.push_back({static_cast<std::uint32_t>(i), kLineMediaModeDataModem, FConfig.Modems[i].Link});
    FFeed.SetLines(lines);
}
