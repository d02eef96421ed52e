#pragma once
// One guarded modem line as the proxy sees it, free of the OS: reads the host's bytes the way the
// modem's command interpreter reads them, holds back every dial until the guard decided, answers
// refusals as the modem would, and turns the modem's replies into call states. The proxy feeds it
// bytes and carries out its actions.
//
// Safety rule: in command mode the modem receives only command lines this class has read itself,
// rewritten as it read them ("AT", the line with backspaces applied and bit 7 stripped, the modem's
// terminator); nothing else the host sends reaches the modem's command interpreter. So the modem's
// buffer never holds text that was not scanned, and its echo can never look like a result code.
// Where the modem's state is uncertain (an escape that may or may not have taken, a numeric reply
// that may be information text), the line takes the side that asks the guard.
#include "platform/linux/uAtScanner.h"
#include "uDialPolicy.h"

#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
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

// The modem's command settings as far as the line knows them: the factory values until the host
// changes them (a stored profile is taken to be the factory one; the line never lets a host write one).
struct TModemSettings {
    bool Echo = true, Verbose = true, Quiet = false;
    char Escape = '+';      // S2
    char Terminator = '\r'; // S3
    char Backspace = '\b';  // S5
    int GuardTime = 50;     // S12, in fiftieths of a second
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
        // Calls TimerExpired after ms milliseconds (one timer; a new request replaces the old one).
        std::function<void(int ms)> StartTimer;
        std::function<std::int64_t()> NowMs; // a monotonic clock, for the escape's guard time
    };

    // Host bytes held while the guard decides or while an escape is uncertain, at most.
    static constexpr std::size_t kHeldLimit = 64 * 1024;
    // Longer than any modem's command buffer: the modem answers ERROR and runs nothing of it.
    static constexpr std::size_t kMaxCommandLine = 512;

    TModemLine(TActions actions, TDialPolicy& policy);

    void HostBytes(std::string_view bytes);
    void ModemBytes(std::string_view bytes);
    // The guard's answer to the last AskGuard; host bytes held meanwhile are processed after it.
    void Decide(TDialDecision decision);
    void TimerExpired();
    // The host dropped DTR, the carrier dropped, or the host closed the port: a call ends.
    void CallEnded(const char* why);
    // The host closed the port: everything about this session is forgotten (but not the refusals),
    // and the memory it held is given back.
    void SessionEnded();

    bool WaitingForGuard() const { return FWaiting; }
    // Host bytes are held (the guard decides, or the modem has not answered the last line yet).
    bool Holding() const { return FWaiting || FAwaitingResult; }
    bool InDataMode() const { return FMode == mData; }
    std::uint32_t Call() const { return FCall; }
    std::uint32_t CallStateValue() const { return FCallState; }
    const TModemSettings& Settings() const { return FSettings; }
    std::size_t HeldBytes() const { return FHeld.size() + FEscapeHeld.size(); }

private:
    enum TMode { mCommand, mDialing, mData };
    enum TPrefix { pIdle, pGotA, pLine, pOverlong };
    void CommandByte(char c);
    void DataByte(char c);
    void ResolveEscape(bool command);
    void EscapeSent();
    std::int64_t Now() const;
    int GuardMs() const;
    void HandleLine(std::string line);
    void AskNext();
    void AwaitResult();
    void ResultArrived();
    void ProcessHeld();
    void Forward(const std::string& line, const TAtLine& scanned);
    void Refuse(const std::string& line, const std::string& number, bool remember);
    void ReplyToHost(const std::string& verbose, int numeric);
    bool ApplySettings(const TAtLine& scanned, TModemSettings& settings) const;
    void ModemLineDone();
    bool IsEscape(char c) const;
    void SetState(std::uint32_t state);

    TActions FA;
    TDialPolicy& FPolicy;
    TModemSettings FSettings;
    TMode FMode = mCommand;
    TPrefix FPrefix = pIdle;
    std::string FLine;     // the host's command line so far, after "AT"
    std::string FLastLine; // for "A/"
    std::string FHeld;     // host bytes that came while the guard or the modem is awaited
    bool FHeldOverflow = false;
    bool FWaiting = false;
    bool FAwaitingResult = false; // a forwarded line's result is still to come
    std::string FPendingLine;
    TAtLine FPendingScan;
    std::deque<TAtDial> FPendingDials; // the dials of the pending line not yet answered
    std::string FModemText;            // the modem's current output line
    std::set<std::string> FLoggedRepeats;
    // Data mode: the escape characters in a row, and the bytes held after an escape while it is
    // unclear whether the modem took it.
    int FEscapeRun = 0;
    bool FEscapeWait = false;
    bool FEscapeMayTake = false; // there was the guard time of silence before it
    bool FRunQuietBefore = false;
    static constexpr std::int64_t kLongAgo = -(std::int64_t(1) << 40);
    std::int64_t FLastDataMs = kLongAgo; // the last data byte sent to the modem
    bool FEscapeSeen = false;            // since the call went on line: an OK may be the modem taking it
    std::string FEscapeHeld;
    std::bitset<128> FEscapes; // every escape character the session set (7 bits)
    int FShortestGuardTime = 50;
    bool FMayBeQuiet = false;
    bool FLineMayPrint = false; // the line whose outcome is awaited may print text of its own
    std::uint32_t FCall = 0;
    std::uint32_t FCallState = 0;
};
