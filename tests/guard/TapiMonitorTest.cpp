#include "fakes/FakeTelephony.h"

#include "guard/uTapiMonitor.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

std::vector<std::string> Names(const std::vector<TCallStateEvent>& events) {
    std::vector<std::string> out;
    for (TCallStateEvent e : events)
        out.push_back(e == TCallStateEvent::cseConnected ? "connected"
                      : e == TCallStateEvent::cseDialing ? "dialing"
                                                         : "idle");
    return out;
}

} // namespace

TEST(TapiMonitor, StartOpensOnlyUsableDataModemLines) {
    TFakeTelephony tel;
    tel.Devices = {
        {kLineMediaModeDataModem, false, false, false},        // 0: opened
        {kLineMediaModeInteractiveVoice, false, false, false}, // 1: voice only, skipped
        {kLineMediaModeDataModem, true, false, false},         // 2: negotiation fails
        {kLineMediaModeDataModem, false, true, false},         // 3: capabilities fail
        {kLineMediaModeDataModem, false, false, true},         // 4: open fails
        {kLineMediaModeDataModem | kLineMediaModeInteractiveVoice, false, false, false}, // 5: opened
    };
    {
        TTapiMonitor monitor(tel);
        EXPECT_EQ(monitor.LineApp(), 0u);
        EXPECT_TRUE(monitor.Start());
        EXPECT_EQ(monitor.LineApp(), 0x51u);
        EXPECT_EQ(monitor.Lines(), std::vector<std::uint32_t>({100, 105}));
        EXPECT_EQ(std::count(tel.Calls.begin(), tel.Calls.end(), "Open 0 2 16"), 1);
        EXPECT_EQ(std::count(tel.Calls.begin(), tel.Calls.end(), "Open 1 2 16"), 0);
        EXPECT_EQ(std::count(tel.Calls.begin(), tel.Calls.end(), "Open 4 2 16"), 1);
        tel.Calls.clear();
    }
    EXPECT_EQ(tel.Calls, std::vector<std::string>({"Close 100", "Close 105", "Shutdown 81"}));
}

TEST(TapiMonitor, StartFailsWithoutServiceOrUsableLines) {
    struct TCase {
        const char* Name;
        long InitResult;
        std::vector<TFakeTelephony::TDevice> Devices;
        std::vector<std::string> ExpectedCalls;
    } cases[] = {
        {"no service", -5, {}, {"Initialize"}},
        {"no device", 0, {}, {"Initialize", "Shutdown 81"}},
        {"voice only",
         0,
         {{kLineMediaModeInteractiveVoice, false, false, false}},
         {"Initialize", "Negotiate 0", "Caps 0", "Shutdown 81"}},
    };
    for (const TCase& c : cases) {
        TFakeTelephony tel;
        tel.InitializeResult = c.InitResult;
        tel.Devices = c.Devices;
        {
            TTapiMonitor monitor(tel);
            EXPECT_FALSE(monitor.Start()) << c.Name;
            EXPECT_EQ(monitor.LineApp(), 0u) << c.Name;
            EXPECT_TRUE(monitor.Lines().empty()) << c.Name;
        }
        // Destruction does not shut a service down twice.
        EXPECT_EQ(tel.Calls, c.ExpectedCalls) << c.Name;
    }
}

TEST(TapiMonitor, CallStatesMapToEvents) {
    struct TCase {
        const char* Name;
        std::vector<TFakeTelephony::TReport> Reports;
        std::vector<std::string> Events;
        std::vector<std::string> Deallocated;
    } cases[] = {
        {"normal call",
         {{7, 2, kLineCallStateDialing},
          {7, 2, kLineCallStateConnected},
          {7, 2, kLineCallStateDisconnected},
          {7, 2, kLineCallStateIdle}},
         {"dialing", "connected", "idle", "idle"},
         {"Deallocate 7"}},
        {"zero handles",
         {{0, 2, kLineCallStateIdle},
          {0, 2, kLineCallStateConnected},
          {0, 2, kLineCallStateDialing},
          {0, 2, kLineCallStateDisconnected}},
         {"dialing", "idle"},
         {}},
        {"ringing and busy", {{7, 2, kLineCallStateOffering}, {7, 2, kLineCallStateBusy}}, {}, {}},
        {"other messages", {{7, 1, kLineCallStateConnected}, {7, 3, kLineCallStateDialing}}, {}, {}},
    };
    for (const TCase& c : cases) {
        TFakeTelephony tel;
        tel.Devices = {{}};
        TTapiMonitor monitor(tel);
        ASSERT_TRUE(monitor.Start());
        std::vector<TCallStateEvent> events;
        monitor.OnCallState = [&](TTapiMonitor& sender, TCallStateEvent e) {
            EXPECT_EQ(&sender, &monitor);
            events.push_back(e);
        };
        tel.Calls.clear();
        tel.Pending.assign(c.Reports.begin(), c.Reports.end());
        monitor.ProcessReports();
        EXPECT_EQ(Names(events), c.Events) << c.Name;
        EXPECT_EQ(tel.Calls, c.Deallocated) << c.Name;
    }
}

TEST(TapiMonitor, ReportsBeforeHandlerIsSetAreIgnored) {
    TFakeTelephony tel;
    tel.Devices = {{}};
    TTapiMonitor monitor(tel);
    ASSERT_TRUE(monitor.Start());
    tel.Calls.clear();
    tel.Pending = {{7, 2, kLineCallStateDialing}, {7, 2, kLineCallStateIdle}};
    monitor.ProcessReports();
    EXPECT_TRUE(tel.Calls.empty()); // not even the call handle is released
    std::vector<TCallStateEvent> events;
    monitor.OnCallState = [&](TTapiMonitor&, TCallStateEvent e) {
        events.push_back(e);
    };
    tel.Pending = {{8, 2, kLineCallStateDialing}};
    monitor.ProcessReports();
    EXPECT_EQ(Names(events), std::vector<std::string>({"dialing"}));
}
