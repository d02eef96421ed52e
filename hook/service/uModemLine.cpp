#include "uModemLine.h"

#include "platform/ITelephony.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// The modem's command interpreter reads 7 bits whatever the port's framing: it finds the parity
// from the "AT" itself, so a byte with bit 7 set reads as its 7-bit character.
char Low7(char c) {
    return static_cast<char>(static_cast<unsigned char>(c) & 0x7f);
}

bool IsA(char c) {
    return c == 'a' || c == 'A';
}

bool IsT(char c) {
    return c == 't' || c == 'T';
}

// Characters a terminator or backspace must not be: letters, digits and the command syntax, or the
// line could no longer be read as the modem reads it.
bool UnfitAsTerminator(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || (c != '\0' && std::strchr(" /=;?&+\"%\\*#$-),", c));
}

// True when the line (after "AT") holds nothing but writes of S2, S3, S5 and S12 with values every
// modem takes, or a reset alone: a line the modem runs to its end, so that a new terminator or
// backspace surely applies. Anything else might stop half-way and leave the modem reading lines
// differently from the guard.
bool SurelyRunsToTheEnd(const std::string& line) {
    std::string s;
    for (std::size_t i = 2; i < line.size(); ++i)
        if (line[i] != ' ')
            s += static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
    if (s == "Z" || s == "Z0" || s == "&F" || s == "&F0")
        return true;
    std::size_t p = 0;
    while (p < s.size()) {
        if (s[p++] != 'S')
            return false;
        std::size_t start = p;
        while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p])))
            ++p;
        const std::string reg = s.substr(start, p - start);
        if ((reg != "2" && reg != "3" && reg != "5" && reg != "12") || p >= s.size() || s[p++] != '=')
            return false;
        start = p;
        while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p])))
            ++p;
        if (p == start || p - start > 3 ||
            std::stoi(s.substr(start, p - start)) > (reg == "3" || reg == "5" ? 127 : 255))
            return false;
    }
    return !s.empty();
}

constexpr std::size_t kEscapeHoldLimit = 4096;
constexpr int kResultWaitMs = 3000;

template <typename T> void Release(T& value) {
    T().swap(value);
}

} // namespace

TModemLine::TModemLine(TActions actions, TDialPolicy& policy) : FA(std::move(actions)), FPolicy(policy) {
    FEscapes.set('+');
}

bool TModemLine::IsEscape(char c) const {
    return FEscapes.test(static_cast<unsigned char>(Low7(c)));
}

void TModemLine::HostBytes(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (FWaiting || FAwaitingResult) {
            std::string_view rest = bytes.substr(i);
            std::size_t room = kHeldLimit - std::min(kHeldLimit, FHeld.size());
            if (rest.size() > room && !FHeldOverflow) {
                FHeldOverflow = true;
                FA.Log("host input beyond " + std::to_string(kHeldLimit / 1024) +
                       " KiB while the guard or the modem is awaited: dropped");
            }
            FHeld.append(rest.substr(0, room));
            return;
        }
        if (FMode == mData && !FEscapeWait) {
            // Data passes in runs; only the escape characters need a look of their own. A Hayes
            // escape needs the guard time of silence before it: measured here, where the gap is
            // never shorter than at the modem.
            const std::int64_t now = Now();
            std::size_t start = i;
            while (i < bytes.size()) {
                if (IsEscape(bytes[i])) {
                    if (FEscapeRun++ == 0)
                        FRunQuietBefore = now - FLastDataMs >= GuardMs();
                } else {
                    FEscapeRun = 0;
                }
                FLastDataMs = now;
                ++i;
                if (FEscapeRun >= 3)
                    break;
            }
            FA.ToDevice(bytes.substr(start, i - start));
            if (FEscapeRun >= 3)
                EscapeSent();
            continue;
        }
        if (FMode == mData) {
            DataByte(bytes[i++]);
            continue;
        }
        if (FMode == mDialing) {
            // Any byte aborts a dial (or answer) in progress and the modem is back in command mode.
            // The abort goes as a CR, which can begin no command of its own; the byte itself waits
            // until the modem has said how the aborted line ended.
            FA.ToDevice("\r");
            FMode = mCommand;
            AwaitResult();
            continue;
        }
        CommandByte(bytes[i++]);
    }
}

void TModemLine::EscapeSent() {
    FEscapeRun = 0;
    FEscapeSeen = true;
    FEscapeWait = true;
    FEscapeMayTake = FRunQuietBefore;
    if (!FEscapeMayTake)
        return; // only "+++AT..." can still make it a command
    // The modem takes a Hayes escape after the guard time of silence: from a little before that
    // on, the modem is taken to listen to commands (a quiet one never says so).
    const int ms = GuardMs() - std::max(50, GuardMs() / 4);
    if (ms <= 0)
        ResolveEscape(true);
    else if (FA.StartTimer)
        FA.StartTimer(ms);
}

void TModemLine::DataByte(char c) {
    // After an escape the modem may be taking commands: "+++AT..." is one on many modems whatever
    // the time between. Bytes that may begin that line are held until the next one tells; others
    // go on at once, which also voids a Hayes escape (they reach the modem within its guard time).
    FEscapeHeld += c;
    std::size_t p = 0;
    while (p < FEscapeHeld.size() && (IsEscape(FEscapeHeld[p]) || IsA(Low7(FEscapeHeld[p]))))
        ++p;
    if (p == FEscapeHeld.size() && FEscapeHeld.size() <= kEscapeHoldLimit)
        return; // nothing to tell yet
    const bool afterA = p > 0 && IsA(Low7(FEscapeHeld[p - 1]));
    const char next = p < FEscapeHeld.size() ? Low7(FEscapeHeld[p]) : '\0';
    ResolveEscape(afterA && (IsT(next) || next == '/'));
}

void TModemLine::TimerExpired() {
    if (FEscapeWait && FEscapeMayTake) {
        ResolveEscape(true); // the guard time passed with nothing sent after the escape
    } else if (FAwaitingResult) {
        ResultArrived(); // the modem may be quiet after all
    }
}

std::int64_t TModemLine::Now() const {
    return FA.NowMs ? FA.NowMs() : 0;
}

int TModemLine::GuardMs() const {
    return FShortestGuardTime * 20;
}

void TModemLine::AwaitResult() {
    // One line at a time: the modem's text and result belong to this line, not to a dial sent
    // after it. A quiet modem gives no result to wait for.
    if (FSettings.Quiet)
        return;
    FAwaitingResult = true;
    if (FA.StartTimer)
        FA.StartTimer(kResultWaitMs);
}

void TModemLine::ResultArrived() {
    FAwaitingResult = false;
    if (FWaiting)
        return; // the held bytes go after the guard's answer
    ProcessHeld();
}

void TModemLine::ProcessHeld() {
    std::string held;
    held.swap(FHeld);
    const bool overflow = FHeldOverflow;
    FHeldOverflow = false;
    HostBytes(held);
    if (overflow)
        ReplyToHost("ERROR", 4);
}

void TModemLine::ResolveEscape(bool command) {
    FEscapeWait = false;
    FEscapeMayTake = false;
    std::string held;
    held.swap(FEscapeHeld);
    if (command) {
        FMode = mCommand;
        FPrefix = pIdle;
        FLine.clear();
    }
    HostBytes(held);
}

void TModemLine::CommandByte(char raw) {
    const char c = Low7(raw);
    switch (FPrefix) {
    case pIdle:
        // Not a command: the modem would ignore it, so it never gets it (its echo could read as a
        // result code, an "A" of it could pair with a later byte).
        if (IsA(c))
            FPrefix = pGotA;
        return;
    case pGotA:
        if (IsT(c)) {
            FPrefix = pLine;
            FLine.clear();
        } else if (c == '/') {
            FPrefix = pIdle;
            HandleLine(FLastLine.empty() ? std::string("AT") : FLastLine);
        } else if (!IsA(c)) {
            FPrefix = pIdle; // "A" and anything else starts nothing; another "A" may still begin one
        }
        return;
    case pLine:
        if (c == FSettings.Terminator) {
            FPrefix = pIdle;
            std::string line = "AT" + FLine;
            FLine.clear();
            HandleLine(std::move(line));
        } else if (c == FSettings.Backspace) {
            if (!FLine.empty())
                FLine.pop_back(); // never the "AT" itself
        } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) {
            FLine += c;
            if (FLine.size() > kMaxCommandLine) {
                FPrefix = pOverlong;
                Release(FLine);
                FA.Log("command line longer than " + std::to_string(kMaxCommandLine) +
                       " characters: not sent to the modem, answered ERROR");
            }
        }
        return;
    case pOverlong:
        if (c == FSettings.Terminator) {
            FPrefix = pIdle;
            ReplyToHost("ERROR", 4);
        }
        return;
    }
}

bool TModemLine::ApplySettings(const TAtLine& scanned, TModemSettings& s) const {
    for (const TAtRegisterWrite& w : scanned.Registers) {
        if (w.Register == -1) {
            const TModemSettings factory;
            s.Escape = factory.Escape, s.Terminator = factory.Terminator, s.Backspace = factory.Backspace;
            s.GuardTime = factory.GuardTime;
        } else if (w.Register == kAtUnnamedRegister) {
            return false;
        } else if (w.Register == 2) {
            if (w.Value > 255)
                return false;
            s.Escape = static_cast<char>(w.Value);
        } else if (w.Register == 3 || w.Register == 5) {
            if (w.Value > 127)
                return false;
            (w.Register == 3 ? s.Terminator : s.Backspace) = static_cast<char>(w.Value);
        } else if (w.Register == 12) {
            s.GuardTime = static_cast<int>(std::min<long>(w.Value, 255));
        }
    }
    if (scanned.Reset)
        s.Echo = s.Verbose = true, s.Quiet = false;
    if (scanned.Echo)
        s.Echo = *scanned.Echo;
    if (scanned.Verbose)
        s.Verbose = *scanned.Verbose;
    if (scanned.Quiet)
        s.Quiet = *scanned.Quiet;
    return !UnfitAsTerminator(s.Terminator) && !UnfitAsTerminator(s.Backspace) && s.Terminator != s.Backspace;
}

void TModemLine::HandleLine(std::string line) {
    FLastLine = line;
    TAtLine scanned = ScanAtLine(line, '\0');
    bool ambiguous = false; // the two readings of a quoted line set the modem differently
    if (line.find('"') != std::string::npos) {
        // Modems differ on whether quotes in an extended command hide a ';': every dial of either
        // reading is asked about.
        std::string bare = line;
        std::erase(bare, '"');
        TAtLine other = ScanAtLine(bare, '\0');
        const bool mayConnect = scanned.MayConnect() || other.MayConnect();
        for (TAtDial& d : other.Dials)
            if (std::none_of(scanned.Dials.begin(), scanned.Dials.end(),
                             [&d](const TAtDial& s) { return s.DialString == d.DialString; }))
                scanned.Dials.push_back(std::move(d));
        scanned.Answer = scanned.Answer || other.Answer;
        scanned.Online = scanned.Online || mayConnect;
        scanned.PrintsText = true;
        auto same = [](const TAtRegisterWrite& a, const TAtRegisterWrite& b) {
            return a.Register == b.Register && a.Value == b.Value;
        };
        ambiguous = !std::equal(scanned.Registers.begin(), scanned.Registers.end(), other.Registers.begin(),
                                other.Registers.end(), same) ||
                    scanned.Verbose != other.Verbose || scanned.Quiet != other.Quiet ||
                    scanned.Reset != other.Reset;
    }
    TModemSettings after = FSettings;
    const bool valid = ApplySettings(scanned, after);
    // Any write of the terminator or backspace counts, even one that a later write undoes: the
    // modem may stop between the two.
    const TModemSettings factory;
    const bool nonFactory =
        FSettings.Terminator != factory.Terminator || FSettings.Backspace != factory.Backspace;
    const bool rereads =
        std::any_of(scanned.Registers.begin(), scanned.Registers.end(), [&](const TAtRegisterWrite& w) {
            return w.Register == 3 || w.Register == 5 || (w.Register == -1 && nonFactory);
        });
    // In numeric mode the modem's own text could not be told from a result code.
    const bool mayBeNumeric = !FSettings.Verbose || (scanned.Verbose && !*scanned.Verbose);
    bool escapes = false;
    // A modem that is on line after all (its CONNECT unseen) would take three escape characters
    // in a row, and what follows them, as an escape and a command.
    int run = 0;
    for (char c : line) {
        run = IsEscape(c) || Low7(c) == Low7(after.Escape) ? run + 1 : 0;
        escapes = escapes || run >= 3;
    }
    if (scanned.WritesProfile || !valid || (rereads && !SurelyRunsToTheEnd(line)) ||
        (mayBeNumeric && scanned.PrintsText) || escapes || ambiguous) {
        FA.Log("command line not sent to the modem, answered ERROR: it would set the modem in a way "
               "the guard cannot follow (a stored profile, an unnamed register, a terminator or "
               "backspace that clashes with \"AT\" or is set beside other commands, text of the "
               "modem's own in numeric mode, an escape, quotes read two ways)");
        if (FSettings.Echo)
            FA.ToHost(line + FSettings.Terminator);
        ReplyToHost("ERROR", 4);
        return;
    }
    if (scanned.Dials.empty()) {
        Forward(line, scanned);
        return;
    }
    for (const TAtDial& d : scanned.Dials)
        if (FPolicy.IsRefusalRemembered(d.Number)) {
            // Dialers retry without end: each number is logged once a session.
            if (FLoggedRepeats.size() < 64 && FLoggedRepeats.insert(d.Number).second)
                FA.Log("dial of \"" + d.Number + "\" refused again without asking (refused moments ago)");
            Refuse(line, d.Number, false);
            return;
        }
    FPendingLine = std::move(line);
    FPendingScan = std::move(scanned);
    FPendingDials.assign(FPendingScan.Dials.begin(), FPendingScan.Dials.end());
    FWaiting = true;
    AskNext();
}

void TModemLine::AskNext() {
    const TAtDial& d = FPendingDials.front();
    FA.AskGuard({d.Number, d.DialString});
}

void TModemLine::Decide(TDialDecision decision) {
    if (!FWaiting)
        return;
    const std::string number = FPendingDials.front().Number;
    FPendingDials.pop_front();
    const bool allow = decision == TDialDecision::ddAllow || decision == TDialDecision::ddNoGuardAllow;
    if (allow && !FPendingDials.empty()) {
        AskNext(); // every dial of the line is asked about before any of it goes
        return;
    }
    FWaiting = false;
    std::string line;
    line.swap(FPendingLine);
    Release(FPendingDials);
    if (allow)
        Forward(line, FPendingScan);
    else
        Refuse(line, number, decision == TDialDecision::ddRefuse);
    FPendingScan = {};
    if (!FAwaitingResult)
        ProcessHeld();
}

void TModemLine::Forward(const std::string& line, const TAtLine& scanned) {
    // The modem reads this line with the terminator it has now; what the line sets applies after.
    FA.ToDevice(line + FSettings.Terminator);
    ApplySettings(scanned, FSettings);
    // Whether the modem ran the whole line is not known (a command may have failed before a
    // setting): escapes are watched for every escape character and the shortest guard time the
    // session has set, and a quiet modem is assumed once quiet was asked for.
    FEscapes.set(static_cast<unsigned char>(Low7(FSettings.Escape)));
    FShortestGuardTime = std::min(FShortestGuardTime, FSettings.GuardTime);
    FMayBeQuiet = FMayBeQuiet || FSettings.Quiet;
    if (FCall != 0 && scanned.HangUp)
        CallEnded("the host hung up (ATH)");
    if (!scanned.Dials.empty()) {
        if (FCall != 0)
            CallEnded(nullptr); // a new dial replaces the call the modem had open
        FCall = FA.NewCall();
        SetState(kLineCallStateDialing);
    }
    if (scanned.MayConnect()) {
        FMode = mDialing;
        FLineMayPrint = scanned.PrintsText;
    } else {
        AwaitResult();
    }
}

void TModemLine::Refuse(const std::string& line, const std::string& number, bool remember) {
    if (remember)
        FPolicy.RememberRefusal(number);
    if (FSettings.Echo)
        FA.ToHost(line + FSettings.Terminator); // the modem would have echoed the line
    std::string reply = FPolicy.NextRefusalReply();
    ReplyToHost(reply, reply == "ERROR" ? 4 : 3);
}

void TModemLine::ReplyToHost(const std::string& verbose, int numeric) {
    if (FSettings.Quiet)
        return;
    if (FSettings.Verbose)
        FA.ToHost(std::string(1, FSettings.Terminator) + "\n" + verbose + FSettings.Terminator + "\n");
    else
        FA.ToHost(std::to_string(numeric) + FSettings.Terminator);
}

void TModemLine::ModemBytes(std::string_view bytes) {
    FA.ToHost(bytes);
    for (char raw : bytes) {
        const char c = Low7(raw);
        if (c == '\r' || c == '\n') {
            ModemLineDone();
            FModemText.clear();
        } else if (FModemText.size() < 80) {
            FModemText += c;
        }
    }
}

void TModemLine::ModemLineDone() {
    if (FModemText.empty())
        return;
    if (FMode == mData) {
        // Either form counts here: missing the end of a call would let commands pass as data.
        TModemReply reply = ClassifyModemReply(FModemText, false);
        if (reply == TModemReply::mrNoCarrier) {
            CallEnded(nullptr);
        } else if (reply == TModemReply::mrOk && FEscapeSeen) {
            // The escape took: the modem listens to commands again with the call still up.
            if (FEscapeWait)
                ResolveEscape(true);
            else
                FMode = mCommand, FPrefix = pIdle;
        }
        return;
    }
    if (FMode == mDialing) {
        // A numeric reply counts only when no line can have printed digits of its own (a quiet
        // modem's lines are not waited for, and give no numeric results anyway); CONNECT taken
        // wrongly would let commands pass as data.
        TModemReply reply = ClassifyModemReply(FModemText, FSettings.Verbose || FLineMayPrint || FMayBeQuiet);
        if (reply == TModemReply::mrConnect) {
            FMode = mData;
            FEscapeRun = 0;
            FEscapeSeen = false;
            if (FCall != 0 && FCallState != kLineCallStateConnected)
                SetState(kLineCallStateConnected);
        } else if (IsDialFailure(reply)) {
            if (reply == TModemReply::mrBusy && FCall != 0)
                SetState(kLineCallStateBusy);
            CallEnded(nullptr);
        } else if (reply == TModemReply::mrOk) {
            FMode = mCommand;
        }
        return;
    }
    if (FAwaitingResult) {
        TModemReply reply = ClassifyModemReply(FModemText, FSettings.Verbose);
        if (reply != TModemReply::mrNone && reply != TModemReply::mrRing)
            ResultArrived();
    }
    if (FCall == 0)
        return;
    // Back in command mode with the call still open (a dial ending in ';', an aborted dial whose
    // result is still to come, an escape).
    TModemReply reply = ClassifyModemReply(FModemText, FSettings.Verbose);
    if (IsDialFailure(reply)) {
        if (reply == TModemReply::mrBusy)
            SetState(kLineCallStateBusy);
        CallEnded(nullptr);
    }
}

void TModemLine::CallEnded(const char* why) {
    FMode = mCommand;
    FEscapeRun = 0;
    FEscapeSeen = false;
    if (FEscapeWait) {
        FEscapeWait = false;
        FEscapeMayTake = false;
        std::string held;
        held.swap(FEscapeHeld);
        HostBytes(held); // read as commands now
    }
    if (FCall == 0)
        return;
    if (why)
        FA.Log(std::string("call ended: ") + why);
    SetState(kLineCallStateDisconnected);
    SetState(kLineCallStateIdle);
    FCall = 0;
    FCallState = 0;
}

void TModemLine::SessionEnded() {
    FEscapeWait = false;
    FEscapeMayTake = false;
    CallEnded("the port was closed");
    FWaiting = false;
    FAwaitingResult = false;
    FHeldOverflow = false;
    FPrefix = pIdle;
    Release(FLine);
    Release(FLastLine);
    Release(FHeld);
    Release(FPendingLine);
    Release(FPendingDials);
    FPendingScan = {};
    Release(FModemText);
    Release(FEscapeHeld);
    Release(FLoggedRepeats);
    FSettings = {};
    FEscapes.reset();
    FEscapes.set('+');
    FShortestGuardTime = FSettings.GuardTime;
    FLastDataMs = kLongAgo;
    FMayBeQuiet = false;
    FMode = mCommand;
    FPolicy.SessionEnded();
}

void TModemLine::SetState(std::uint32_t state) {
    FCallState = state;
    FA.CallState(FCall, state);
}
