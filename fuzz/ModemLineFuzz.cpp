// The modem line scanner of the hook service: the host's command bytes and the modem's replies in
// any interleaving, with the guard's answers in between. The sanitizers watch; the oracle checks
// that nothing reaches the modem while the guard is being asked, and that a call handle is never 0.
#include "FuzzCheck.h"
#include "uDialPolicy.h"
#include "uModemLine.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::int64_t now = 0;
    TDialPolicy policy([&now] { return now; });
    bool asking = false;
    std::uint32_t nextCall = 0;
    TModemLine::TActions actions;
    actions.ToDevice = [&asking](std::string_view) {
        QM_FUZZ_CHECK(!asking, "bytes reached the modem while the guard decides");
    };
    actions.ToHost = [](std::string_view) {
    };
    actions.CallState = [](std::uint32_t call, std::uint32_t) {
        QM_FUZZ_CHECK(call != 0, "call handle 0");
    };
    actions.NewCall = [&nextCall] {
        return ++nextCall == 0 ? ++nextCall : nextCall;
    };
    actions.AskGuard = [&asking](const TDialAttempt&) {
        asking = true;
    };
    actions.Log = [](const std::string&) {
    };
    TModemLine line(actions, policy);
    while (in.remaining_bytes() > 0) {
        now += in.ConsumeIntegralInRange(0, 70000);
        switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1:
            line.HostBytes(in.ConsumeRandomLengthString(48));
            break;
        case 2:
            line.ModemBytes(in.ConsumeRandomLengthString(48));
            break;
        case 3:
            if (line.WaitingForGuard()) {
                asking = false;
                line.Decide(static_cast<TDialDecision>(in.ConsumeIntegralInRange(0, 3)));
            }
            break;
        case 4:
            asking = false; // the end of a call may reach the modem at any time
            line.CallEnded("carrier dropped");
            break;
        default:
            asking = false;
            line.SessionEnded();
            break;
        }
        asking = line.WaitingForGuard();
    }
    return 0;
}
