#pragma once
// The modem connection's status and timing: the line monitor's three reports become "connected
// with the last dial request's number", "one more second" and "ended". Statistics and the
// automatic update hear these events through the composition; the status tab only shows them.
#include "guard/uTapiMonitor.h"
#include "platform/ITimer.h"

#include <functional>
#include <memory>
#include <string>

// What the status tab shows of the connection.
class IConnectionStatusView {
public:
    virtual ~IConnectionStatusView() = default;
    virtual void ShowConnected(const std::string& number) = 0;
    virtual void ShowNotConnected() = 0;
    virtual void ShowDialing() = 0;
    virtual void ShowConnectionTime(int seconds) = 0;
};

// Where the number of a new connection comes from: the dial guard's last request.
class ILastDialedNumber {
public:
    virtual ~ILastDialedNumber() = default;
    virtual const std::string& LastNumber() const = 0;
};

struct TConnectionStatusContext {
    ITimerFactory& Timers;
    IConnectionStatusView& View;
    const ILastDialedNumber& LastDialed;
};

class TConnectionStatus {
public:
    explicit TConnectionStatus(const TConnectionStatusContext& context);
    TConnectionStatus(const TConnectionStatus&) = delete;
    TConnectionStatus& operator=(const TConnectionStatus&) = delete;

    // The line monitor's report.
    void LineCallState(TCallStateEvent state);
    void SetConnected(const std::string& number);
    void SetNotConnected();

    bool IsConnected() const { return FTimer->IsActive(); }
    const std::string& ConnectedNumber() const { return FConnectedNumber; }
    int Seconds() const { return FSeconds; }
    // The one-second timer of a connection (tmrConnection).
    ITimer& Timer() { return *FTimer; }

    // Raised after the view shows the change. OnEnded also comes when the status is first set.
    std::function<void(const std::string& number)> OnConnected;
    std::function<void(const std::string& number)> OnSecond;
    std::function<void()> OnEnded;

private:
    void Tick();

    TConnectionStatusContext FContext;
    std::unique_ptr<ITimer> FTimer;
    std::string FConnectedNumber;
    int FSeconds = 0;
};
