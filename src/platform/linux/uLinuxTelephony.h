#pragma once
// The telephony port over the hook service's line feed (one line per guarded modem). Opening a line
// is local: the feed reports every call and the port passes on those of the opened lines. When the
// service goes away, calls in progress are reported ended so the status does not stay connected.
#include "platform/ITelephony.h"
#include "platform/linux/uLineFeedProtocol.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class TLinuxTelephony : public ITelephony {
public:
    explicit TLinuxTelephony(std::string feedSocket = qm::kDefaultLineFeedSocket,
                             int connectTimeoutMs = 2000);
    ~TLinuxTelephony() override;
    TLinuxTelephony(const TLinuxTelephony&) = delete;
    TLinuxTelephony& operator=(const TLinuxTelephony&) = delete;

    long Initialize(std::uint32_t& lineApp, std::uint32_t& deviceCount) override;
    long NegotiateApiVersion(std::uint32_t lineApp, std::uint32_t device, std::uint32_t lowVersion,
                             std::uint32_t highVersion, std::uint32_t& apiVersion) override;
    long GetDevCaps(std::uint32_t lineApp, std::uint32_t device, std::uint32_t apiVersion,
                    std::uint32_t extVersion, TLineDevCaps& caps) override;
    long Open(std::uint32_t lineApp, std::uint32_t device, std::uint32_t& line, std::uint32_t apiVersion,
              std::uint32_t extVersion, std::uintptr_t callbackInstance, std::uint32_t privileges,
              std::uint32_t mediaModes) override;
    long Close(std::uint32_t line) override;
    long DeallocateCall(std::uint32_t call) override;
    long Shutdown(std::uint32_t lineApp) override;
    int EventFd() const override { return FFd; }
    void DispatchReports() override;

private:
    void HandleText(std::string_view text);
    void Report(std::uint32_t device, std::uint32_t call, std::uint32_t state);
    void ServiceGone();
    void CloseSocket();

    std::string FPath;
    int FTimeoutMs;
    int FFd = -1;
    int FQuietFd = -1; // kept for the shell's notifier once the service is gone
    std::string FBuffer;
    std::vector<qm::TFeedLine> FDevices;
    std::map<std::uint32_t, std::uint32_t> FOpenLines;                             // line handle -> device
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> FActiveCalls; // call -> device, state
};
