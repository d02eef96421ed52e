#include "platform/linux/uLinuxTelephony.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kApiVersion = 0x20000;
constexpr long kLineErrNoDevice = -0x5;     // no such device
constexpr long kLineErrIncompatible = -0xC; // version or media modes not supported
constexpr long kLineErrUninitialised = -0x30;
constexpr long kLineErrNoService = -0x48;
constexpr std::uint32_t kLineApp = 1;
constexpr std::uint32_t kFirstLine = 0x100;

} // namespace

TLinuxTelephony::TLinuxTelephony(std::string feedSocket, int connectTimeoutMs)
    : FPath(std::move(feedSocket)), FTimeoutMs(connectTimeoutMs) {}

TLinuxTelephony::~TLinuxTelephony() {
    CloseSocket();
}

void TLinuxTelephony::CloseSocket() {
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    FBuffer.clear();
}

long TLinuxTelephony::Initialize(std::uint32_t& lineApp, std::uint32_t& deviceCount) {
    CloseSocket();
    FDevices.clear();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (FPath.size() >= sizeof(addr.sun_path))
        return kLineErrNoService;
    std::memcpy(addr.sun_path, FPath.c_str(), FPath.size() + 1);
    FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (FFd < 0 || ::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        CloseSocket();
        return kLineErrNoService;
    }
    // The header follows the connect at once; wait for it with a bound.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FTimeoutMs);
    std::uint32_t expected = 0;
    bool haveCount = false;
    while (!haveCount || FDevices.size() < expected) {
        std::size_t nl = FBuffer.find('\n');
        if (nl != std::string::npos) {
            qm::TFeedMessage m = qm::ParseFeedMessage(std::string_view(FBuffer).substr(0, nl));
            FBuffer.erase(0, nl + 1);
            if (m.Kind == qm::TFeedMessage::fmLines) {
                expected = m.Count;
                haveCount = true;
            } else if (m.Kind == qm::TFeedMessage::fmLine && haveCount) {
                FDevices.push_back(m.Line);
            }
            continue;
        }
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        pollfd p{FFd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0) {
            CloseSocket();
            return kLineErrNoService;
        }
        // Only the header is taken now, a byte at a time: the call states that follow it (a call
        // already in progress) stay in the socket, so the shell's notifier sees them once the lines
        // are open.
        char c;
        ssize_t n = ::recv(FFd, &c, 1, 0);
        if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) {
            CloseSocket();
            return kLineErrNoService;
        }
        if (n > 0)
            FBuffer += c;
    }
    FBuffer.clear();
    lineApp = kLineApp;
    deviceCount = static_cast<std::uint32_t>(FDevices.size());
    return 0;
}

long TLinuxTelephony::NegotiateApiVersion(std::uint32_t lineApp, std::uint32_t device,
                                          std::uint32_t lowVersion, std::uint32_t highVersion,
                                          std::uint32_t& apiVersion) {
    if (lineApp != kLineApp || FFd < 0)
        return kLineErrUninitialised;
    if (device >= FDevices.size())
        return kLineErrNoDevice;
    if (lowVersion > kApiVersion || highVersion < kApiVersion)
        return kLineErrIncompatible;
    apiVersion = kApiVersion;
    return 0;
}

long TLinuxTelephony::GetDevCaps(std::uint32_t lineApp, std::uint32_t device, std::uint32_t apiVersion,
                                 std::uint32_t /*extVersion*/, TLineDevCaps& caps) {
    if (lineApp != kLineApp || FFd < 0)
        return kLineErrUninitialised;
    if (device >= FDevices.size())
        return kLineErrNoDevice;
    if (apiVersion != kApiVersion)
        return kLineErrIncompatible;
    caps.MediaModes = FDevices[device].MediaModes;
    caps.LineName = FDevices[device].Name;
    return 0;
}

long TLinuxTelephony::Open(std::uint32_t lineApp, std::uint32_t device, std::uint32_t& line,
                           std::uint32_t apiVersion, std::uint32_t /*extVersion*/,
                           std::uintptr_t /*callbackInstance*/, std::uint32_t /*privileges*/,
                           std::uint32_t mediaModes) {
    if (lineApp != kLineApp || FFd < 0)
        return kLineErrUninitialised;
    if (device >= FDevices.size())
        return kLineErrNoDevice;
    if (apiVersion != kApiVersion || (FDevices[device].MediaModes & mediaModes) != mediaModes)
        return kLineErrIncompatible;
    line = kFirstLine + device;
    FOpenLines[line] = device;
    return 0;
}

long TLinuxTelephony::Close(std::uint32_t line) {
    return FOpenLines.erase(line) ? 0 : kLineErrNoDevice;
}

long TLinuxTelephony::DeallocateCall(std::uint32_t call) {
    FActiveCalls.erase(call);
    return 0;
}

long TLinuxTelephony::Shutdown(std::uint32_t /*lineApp*/) {
    CloseSocket();
    if (FQuietFd >= 0)
        ::close(FQuietFd);
    FQuietFd = -1;
    FOpenLines.clear();
    FActiveCalls.clear();
    return 0;
}

void TLinuxTelephony::Report(std::uint32_t device, std::uint32_t call, std::uint32_t state) {
    bool opened = false;
    for (const auto& [line, dev] : FOpenLines)
        opened = opened || dev == device;
    if (!opened)
        return;
    if (call != 0) {
        if (state == kLineCallStateIdle)
            FActiveCalls.erase(call);
        else
            FActiveCalls[call] = {device, state};
    }
    if (OnReport)
        OnReport(call, kLineCallStateMessage, 0, state, 0, 0);
}

void TLinuxTelephony::HandleText(std::string_view text) {
    qm::TFeedMessage m = qm::ParseFeedMessage(text);
    if (m.Kind == qm::TFeedMessage::fmCallState)
        Report(m.CallState.Device, m.CallState.Call, m.CallState.State);
}

void TLinuxTelephony::ServiceGone() {
    // The fd number stays valid for the shell's notifier but never becomes readable again.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) == 0) {
        ::dup3(pipeFds[0], FFd, O_CLOEXEC);
        ::close(pipeFds[0]);
        FQuietFd = pipeFds[1];
    } else {
        CloseSocket();
    }
    FBuffer.clear();
    auto calls = FActiveCalls;
    for (const auto& [call, deviceAndState] : calls) {
        if (deviceAndState.second != kLineCallStateDisconnected)
            Report(deviceAndState.first, call, kLineCallStateDisconnected);
        Report(deviceAndState.first, call, kLineCallStateIdle);
    }
}

void TLinuxTelephony::DispatchReports() {
    if (FFd < 0 || FQuietFd >= 0)
        return;
    for (;;) {
        char buf[4096];
        ssize_t n = ::recv(FFd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            // Handle what came before the end first.
            std::string rest;
            rest.swap(FBuffer);
            std::size_t start = 0, nl;
            while ((nl = rest.find('\n', start)) != std::string::npos) {
                HandleText(std::string_view(rest).substr(start, nl - start));
                start = nl + 1;
            }
            ServiceGone();
            return;
        }
        FBuffer.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t start = 0, nl;
    std::string pending;
    pending.swap(FBuffer);
    while ((nl = pending.find('\n', start)) != std::string::npos) {
        HandleText(std::string_view(pending).substr(start, nl - start));
        start = nl + 1;
    }
    FBuffer = pending.substr(start);
}
