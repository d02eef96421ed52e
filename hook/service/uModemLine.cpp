#include "uModemLine.h"

#include "platform/ITelephony.h"

namespace {

constexpr char kCr = '\r';
constexpr std::size_t kMaxCommandLine = 512; // longer than any modem's buffer: the modem says ERROR

bool IsA(char c) {
    return c == 'a' || c == 'A';
}

} // namespace

TModemLine::TModemLine(TActions actions, TDialPolicy& policy) : FA(std::move(actions)), FPolicy(policy) {}

void TModemLine::HostBytes(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (FWaiting) {
            FHeld.append(bytes.substr(i));
            return;
        }
        HostByte(bytes[i]);
    }
}

void TModemLine::HostByte(char c) {
    if (FMode == mData) {
        FA.ToDevice(std::string_view(&c, 1)); // data mode is transparent
        FHostTail = (FHostTail + c).substr(FHostTail.size() >= 2 ? FHostTail.size() - 2 : 0);
        return;
    }
    if (FMode == mDialing) {
        // Any byte aborts a dial in progress and the modem is back in command mode: from here on
        // the host's bytes are command lines again. The abort is a CR, so that the byte itself
        // cannot begin a command the modem would run unread.
        FMode = mCommand;
        FA.ToDevice(IsA(c) ? std::string_view("\r") : std::string_view(&c, 1));
        if (!IsA(c))
            return;
    }
    if (FLine.empty() && !IsA(c)) {
        FA.ToDevice(std::string_view(&c, 1)); // not a command: modems ignore it
        return;
    }
    FLine += c;
    bool repeat = FLine.size() == 2 && FLine[1] == '/';
    if (c == kCr || repeat) {
        HandleLine();
        return;
    }
    if (FLine.size() == 2 && FLine[1] != 't' && FLine[1] != 'T') {
        // "A" followed by something else: not a prefix after all.
        std::string s;
        s.swap(FLine);
        FA.ToDevice(s.substr(0, 1));
        HostBytes(s.substr(1));
        return;
    }
    if (FLine.size() > kMaxCommandLine) {
        FLine.clear();
        ReplyToHost("ERROR", 4);
        FA.Log("command line too long, answered ERROR");
    }
}

void TModemLine::HandleLine() {
    std::string line;
    line.swap(FLine);
    TAtLine scanned = ScanAtLine(line);
    if (scanned.Repeat) {
        scanned = ScanAtLine(FLastLine);
        scanned.Repeat = true;
    } else {
        FLastLine = line;
    }
    if (scanned.Dials.empty()) {
        Forward(line, scanned);
        return;
    }
    // The first dial that names a number decides; a dial of a stored number is asked about as unknown.
    const TAtDial* dial = &scanned.Dials.front();
    for (const TAtDial& d : scanned.Dials)
        if (d.Known) {
            dial = &d;
            break;
        }
    if (FPolicy.IsRefusalRemembered(dial->Number)) {
        FA.Log("dial of \"" + dial->Number + "\" refused again without asking (refused moments ago)");
        Refuse(line, dial->Number, false);
        return;
    }
    FPendingLine = line;
    FPendingNumber = dial->Number;
    FPendingScan = scanned;
    FWaiting = true;
    FA.AskGuard({dial->Number, dial->DialString});
}

void TModemLine::Decide(TDialDecision decision) {
    if (!FWaiting)
        return;
    FWaiting = false;
    std::string line;
    line.swap(FPendingLine);
    switch (decision) {
    case TDialDecision::ddAllow:
    case TDialDecision::ddNoGuardAllow:
        Forward(line, FPendingScan);
        break;
    case TDialDecision::ddRefuse:
        Refuse(line, FPendingNumber, true);
        break;
    case TDialDecision::ddNoGuardRefuse:
        Refuse(line, FPendingNumber, false);
        break;
    }
    std::string held;
    held.swap(FHeld);
    HostBytes(held);
}

void TModemLine::Forward(const std::string& line, const TAtLine& scanned) {
    ApplySettings(scanned);
    FA.ToDevice(scanned.Repeat ? FLastLine : line);
    if (FCall != 0 && scanned.HangUp) {
        CallEnded("the host hung up (ATH)");
    } else if (FCall != 0 && scanned.Online && FCallState == kLineCallStateConnected) {
        FMode = mData;
        FHostTail.clear();
        return;
    }
    if (!scanned.Dials.empty()) {
        if (FCall != 0)
            CallEnded(nullptr); // a new dial replaces the call the modem had open
        FCall = FA.NewCall();
        FMode = mDialing;
        SetState(kLineCallStateDialing);
    }
}

void TModemLine::Refuse(const std::string& line, const std::string& number, bool remember) {
    if (remember)
        FPolicy.RememberRefusal(number);
    if (FEcho)
        FA.ToHost(line); // the modem would have echoed the line
    std::string reply = FPolicy.NextRefusalReply();
    ReplyToHost(reply, reply == "ERROR" ? 4 : 3);
}

void TModemLine::ReplyToHost(const std::string& verbose, int numeric) {
    if (FQuiet)
        return;
    if (FVerbose)
        FA.ToHost("\r\n" + verbose + "\r\n");
    else
        FA.ToHost(std::to_string(numeric) + "\r");
}

void TModemLine::ApplySettings(const TAtLine& scanned) {
    if (scanned.Reset)
        FEcho = FVerbose = true, FQuiet = false;
    if (scanned.Echo)
        FEcho = *scanned.Echo;
    if (scanned.Verbose)
        FVerbose = *scanned.Verbose;
    if (scanned.Quiet)
        FQuiet = *scanned.Quiet;
}

void TModemLine::ModemBytes(std::string_view bytes) {
    FA.ToHost(bytes);
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            ModemLineDone();
            FModemText.clear();
        } else if (FModemText.size() < 80) {
            FModemText += c;
        }
    }
}

void TModemLine::ModemLineDone() {
    if (FModemText.empty() || FCall == 0)
        return;
    TModemReply reply = ClassifyModemReply(FModemText, FVerbose);
    if (FMode == mData) {
        if (reply == TModemReply::mrNoCarrier) {
            CallEnded(nullptr);
        } else if (reply == TModemReply::mrOk && FHostTail == "+++") {
            // The escape: the modem listens to commands again with the call still up, and a dial
            // from there must be read like any other.
            FMode = mCommand;
        }
        return;
    }
    // Dialling, or back in command mode with the call still open (a dial ending in ';', an aborted
    // dial whose result is still to come).
    if (reply == TModemReply::mrConnect) {
        FMode = mData;
        if (FCallState != kLineCallStateConnected)
            SetState(kLineCallStateConnected);
    } else if (IsDialFailure(reply)) {
        if (reply == TModemReply::mrBusy)
            SetState(kLineCallStateBusy);
        CallEnded(nullptr);
    } else if (reply == TModemReply::mrOk && FMode == mDialing) {
        FMode = mCommand; // "ATD...;" dials and returns to command mode at once
    }
}

void TModemLine::CallEnded(const char* why) {
    if (FCall == 0)
        return;
    if (why)
        FA.Log(std::string("call ended: ") + why);
    SetState(kLineCallStateDisconnected);
    SetState(kLineCallStateIdle);
    FCall = 0;
    FCallState = 0;
    FMode = mCommand;
}

void TModemLine::SessionEnded() {
    CallEnded("the port was closed");
    FWaiting = false;
    FLine.clear();
    FLastLine.clear();
    FHeld.clear();
    FPendingLine.clear();
    FModemText.clear();
    FEcho = FVerbose = true;
    FQuiet = false;
    FMode = mCommand;
    FPolicy.SessionEnded();
}

void TModemLine::SetState(std::uint32_t state) {
    FCallState = state;
    FA.CallState(FCall, state);
}
