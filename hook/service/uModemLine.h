#pragma once
// One guarded modem line as the proxy sees it, free of the OS: reads the host's command lines,
// holds back a dial until the guard decided, answers refusals as the modem would, and turns the
// modem's replies into call states. The proxy feeds it bytes and carries out its actions.
#include "platform/linux/uAtScanner.h"
#include "uDialPolicy.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct TDialAttempt {
    std::string Number; // empty when the dial names no number (DL, stored numbers)
    std::string DialString;
};

enum class TDialDecision {
    ddAllow,
    ddRefuse,        // the guard refused: remembered for a while
    ddNoGuardAllow,  // nobody answered and the default allows
    ddNoGuardRefuse, // nobody answered and the default refuses: not remembered
};

class TModemLine {
public:
    struct TActions {
        std::function<void(std::string_view)> ToDevice;
        std::function<void(std::string_view)> ToHost;
        std::function<void(std::uint32_t call, std::uint32_t state)> CallState;
        std::function<std::uint32_t()> NewCall;            // a fresh call handle, never 0
        std::function<void(const TDialAttempt&)> AskGuard; // answered later through Decide
        std::function<void(const std::string&)> Log;
    };

    TModemLine(TActions actions, TDialPolicy& policy);

    void HostBytes(std::string_view bytes);
    void ModemBytes(std::string_view bytes);
    // The guard's answer to the last AskGuard; host bytes held meanwhile are processed after it.
    void Decide(TDialDecision decision);
    // The host dropped DTR, the carrier dropped, or the host closed the port: a call ends.
    void CallEnded(const char* why);
    // The host closed the port: everything about this session is forgotten (but not the refusals).
    void SessionEnded();

    bool WaitingForGuard() const { return FWaiting; }
    bool InDataMode() const { return FMode == mData; }
    std::uint32_t Call() const { return FCall; }
    std::uint32_t CallStateValue() const { return FCallState; }

private:
    enum TMode { mCommand, mDialing, mData };
    void HostByte(char c);
    void HandleLine();
    void Forward(const std::string& line, const TAtLine& scanned);
    void Refuse(const std::string& line, const std::string& number, bool remember);
    void ReplyToHost(const std::string& verbose, int numeric);
    void ModemLineDone();
    void SetState(std::uint32_t state);
    void ApplySettings(const TAtLine& scanned);

    TActions FA;
    TDialPolicy& FPolicy;
    TMode FMode = mCommand;
    std::string FLine;     // the host's command line so far
    std::string FLastLine; // for "A/"
    std::string FHeld;     // host bytes that came while the guard decides
    std::string FPendingLine;
    std::string FPendingNumber;
    TAtLine FPendingScan;
    bool FWaiting = false;
    std::string FModemText; // the modem's current output line
    std::string FHostTail;  // the host's last data bytes, to see the "+++" escape
    bool FEcho = true, FVerbose = true, FQuiet = false;
    std::uint32_t FCall = 0;
    std::uint32_t FCallState = 0;
};
