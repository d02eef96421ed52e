#include "guard/uConnectionStatus.h"

#include "fakes/FakePorts.h"

#include <gtest/gtest.h>

namespace {

class TRecordingStatusView : public IConnectionStatusView {
public:
    std::vector<std::string> Shown;
    void ShowConnected(const std::string& number) override { Shown.push_back("connected " + number); }
    void ShowNotConnected() override { Shown.push_back("not connected"); }
    void ShowDialing() override { Shown.push_back("dialing"); }
    void ShowConnectionTime(int seconds) override { Shown.push_back(std::to_string(seconds) + " s"); }
};

struct TLastNumber : ILastDialedNumber {
    std::string Number;
    const std::string& LastNumber() const override { return Number; }
};

TEST(ConnectionStatus, LineReportsBecomeEventsWithTheLastRequestsNumber) {
    TFakeTimerFactory timers;
    TRecordingStatusView view;
    TLastNumber last;
    TConnectionStatus status({.Timers = timers, .View = view, .LastDialed = last});
    std::vector<std::string> events;
    status.OnConnected = [&](const std::string& n) {
        events.push_back("connected " + n);
    };
    status.OnSecond = [&](const std::string& n) {
        events.push_back("second " + n + " " + std::to_string(status.Seconds()));
    };
    status.OnEnded = [&] {
        events.push_back("ended");
    };
    ITimer& timer = status.Timer();
    EXPECT_EQ(timer.Interval(), 1000);

    status.LineCallState(TCallStateEvent::cseDialing);
    last.Number = "0202122";
    status.LineCallState(TCallStateEvent::cseConnected);
    last.Number = "0700"; // a later request does not rename the connection
    EXPECT_TRUE(status.IsConnected());
    static_cast<TFakeTimer&>(timer).Fire();
    static_cast<TFakeTimer&>(timer).Fire();
    status.LineCallState(TCallStateEvent::cseIdle);
    EXPECT_FALSE(status.IsConnected());
    EXPECT_EQ(status.ConnectedNumber(), "");
    EXPECT_EQ(status.Seconds(), 0);

    EXPECT_EQ(view.Shown,
              (std::vector<std::string>{"dialing", "connected 0202122", "1 s", "2 s", "not connected"}));
    EXPECT_EQ(events, (std::vector<std::string>{"connected 0202122", "second 0202122 1", "second 0202122 2",
                                                "ended"}));
}

} // namespace
