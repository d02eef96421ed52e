#include "FakeHayesModem.h"

#include <cctype>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

TFakeHayesModem::TFakeHayesModem(std::map<std::string, std::string> replies) : FReplies(std::move(replies)) {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (FMaster < 0 || ::grantpt(FMaster) || ::unlockpt(FMaster) || ::ptsname_r(FMaster, name, sizeof(name)))
        throw std::runtime_error("fake modem: no pseudo-terminal");
    FSlavePath = name;
    FSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC); // keeps the device alive between opens
    termios t{};
    ::tcgetattr(FSlave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FSlave, TCSANOW, &t);
    if (::pipe2(FWake, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    FThread = std::thread([this] { Run(); });
}

TFakeHayesModem::~TFakeHayesModem() {
    char c = 0;
    (void)!::write(FWake[1], &c, 1);
    FThread.join();
    for (int fd : {FMaster, FSlave, FWake[0], FWake[1]})
        ::close(fd);
}

std::vector<std::string> TFakeHayesModem::Lines() const {
    std::lock_guard lock(FMutex);
    return FLines;
}

bool TFakeHayesModem::SawDial() const {
    for (const std::string& l : Lines()) {
        std::string u;
        for (char c : l)
            u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u.find("ATD") != std::string::npos)
            return true;
    }
    return false;
}

void TFakeHayesModem::Write(const std::string& text) {
    (void)!::write(FMaster, text.data(), text.size());
}

void TFakeHayesModem::Execute(const std::string& line) {
    {
        std::lock_guard lock(FMutex);
        FLines.push_back(line);
    }
    std::string u;
    for (char c : line)
        u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::size_t d = u.find("ATD");
    if (d == std::string::npos) {
        Write("\r\nOK\r\n");
        return;
    }
    std::string number;
    for (char c : u.substr(d + 3))
        if (std::isdigit(static_cast<unsigned char>(c)))
            number += c;
    auto it = FReplies.find(number);
    std::string reply = it == FReplies.end() ? "NO ANSWER" : it->second;
    FOnline = reply.rfind("CONNECT", 0) == 0;
    Write("\r\n" + reply + "\r\n");
}

void TFakeHayesModem::Run() {
    std::string line;
    for (;;) {
        pollfd p[2] = {{FMaster, POLLIN, 0}, {FWake[0], POLLIN, 0}};
        ::poll(p, 2, 50);
        if (p[1].revents)
            return;
        termios t{};
        if (::tcgetattr(FSlave, &t) == 0 && ::cfgetospeed(&t) == B0)
            FDtrDropped = true;
        if (!(p[0].revents & POLLIN))
            continue;
        char buf[512];
        ssize_t n = ::read(FMaster, buf, sizeof(buf));
        if (n <= 0)
            continue;
        if (FOnline)
            continue; // data mode: the test's host sends nothing that matters
        Write(std::string(buf, static_cast<std::size_t>(n))); // echo
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\r') {
                if (!line.empty())
                    Execute(line);
                line.clear();
            } else if (buf[i] != '\n') {
                line += buf[i];
            }
        }
    }
}

namespace {

char Up7(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c) & 0x7f));
}

} // namespace

void THayesModel::Reset() {
    FEcho = FVerbose = true;
    FQuiet = false;
    FReg[2] = '+';
    FReg[3] = '\r';
    FReg[5] = '\b';
    FReg[12] = 50;
}

void THayesModel::Text(const std::string& text) {
    FOut += std::string(1, static_cast<char>(FReg[3])) + "\n" + text + static_cast<char>(FReg[3]) + "\n";
}

void THayesModel::Result(int code, const char* text) {
    if (FQuiet)
        return;
    if (FVerbose)
        Text(text);
    else
        FOut += std::to_string(code) + static_cast<char>(FReg[3]);
}

std::string THayesModel::TakeOutput() {
    std::string out;
    out.swap(FOut);
    return out;
}

void THayesModel::Advance(std::int64_t nowMs) {
    CheckEscape(nowMs);
    if (FState == sDialing) {
        std::string outcome = Outcome ? Outcome(FPendingDial) : "NO ANSWER";
        if (outcome == "CONNECT") {
            FState = sOnline;
            FCallUp = true;
            FLastByteMs = nowMs;
            FEscapeCount = 0;
            Result(1, "CONNECT");
        } else {
            FState = sCommand;
            Result(outcome == "BUSY" ? 7 : outcome == "NO ANSWER" ? 8 : 3, outcome.c_str());
        }
    }
}

void THayesModel::CheckEscape(std::int64_t nowMs) {
    const std::int64_t guard = FReg[12] * 20;
    if (FState == sOnline && FEscapeCount == 3 && FEscapeQuietBefore && nowMs - FLastByteMs >= guard) {
        FEscapeCount = 0;
        FState = sOnlineCommand;
        FPrefix = 0;
        Result(0, "OK");
    }
}

void THayesModel::Receive(std::string_view bytes, std::int64_t nowMs) {
    for (char c : bytes) {
        CheckEscape(nowMs);
        if (FState == sDialing) {
            FState = sCommand; // any byte aborts the dial
            Result(3, "NO CARRIER");
            continue;
        }
        if (FState == sOnline) {
            const std::int64_t guard = FReg[12] * 20;
            const bool escapeChar = (static_cast<unsigned char>(c) & 0x7f) == (FReg[2] & 0x7f);
            if (FTies == 2) {
                CommandByte(c); // "+++AT..." is read as a command line
                if (FPrefix == 0)
                    FTies = 0, FState = FState == sOnline ? sOnlineCommand : FState;
            } else if (FEscapeCount >= 3 && Up7(c) == 'A') {
                FTies = 1;
                FEscapeCount = 0;
            } else if (FTies == 1 && Up7(c) == 'T') {
                FTies = 2;
                FPrefix = 2;
                FLine.clear();
            } else if (escapeChar && FEscapeCount < 3) {
                if (FEscapeCount == 0) {
                    FEscapeQuietBefore = nowMs - FLastByteMs >= guard;
                    FEscapeStartMs = nowMs;
                }
                ++FEscapeCount;
            } else {
                FEscapeCount = 0;
                FTies = 0;
            }
            FLastByteMs = nowMs;
            continue;
        }
        if (FEcho)
            FOut += c;
        CommandByte(c);
    }
}

void THayesModel::CommandByte(char raw) {
    const char c = static_cast<char>(static_cast<unsigned char>(raw) & 0x7f);
    const char u = Up7(c);
    if (FPrefix == 0) {
        if (u == 'A')
            FPrefix = 1;
    } else if (FPrefix == 1) {
        if (u == 'T') {
            FPrefix = 2;
            FLine.clear();
        } else if (c == '/') {
            FPrefix = 0;
            Execute(FLastLine);
        } else if (u != 'A' && static_cast<unsigned char>(c) >= 0x20) {
            FPrefix = 0;
        }
    } else if (c == FReg[3]) {
        FPrefix = 0;
        FLastLine = FLine;
        Execute(FLine);
    } else if (c == FReg[5]) {
        if (!FLine.empty())
            FLine.pop_back();
    } else if (static_cast<unsigned char>(c) >= 0x20) {
        FLine += c;
    }
}

void THayesModel::Execute(const std::string& body) {
    std::size_t i = 0;
    auto number = [&]() {
        long v = -1;
        while (i < body.size() && (std::isdigit(static_cast<unsigned char>(body[i])) || body[i] == ' ')) {
            if (body[i] != ' ')
                v = (v < 0 ? 0 : v * 10 % 1000000) + (body[i] - '0');
            ++i;
        }
        return v;
    };
    int selected = 0;
    while (i < body.size()) {
        const char u = Up7(body[i++]);
        switch (u) {
        case 'D': {
            std::string dial;
            while (i < body.size() && body[i] != ';') {
                if (body[i] != ' ')
                    dial += Up7(body[i]);
                ++i;
            }
            FDials.push_back(dial);
            if (i < body.size()) {
                ++i; // ';': back to command mode at once
                continue;
            }
            FPendingDial = dial;
            FState = sDialing;
            return;
        }
        case 'E':
        case 'V':
        case 'Q': {
            bool on = number() > 0;
            (u == 'E' ? FEcho : u == 'V' ? FVerbose : FQuiet) = on;
            break;
        }
        case 'S': {
            long r = number();
            if (r >= 0)
                selected = static_cast<int>(r);
            if (i < body.size() && body[i] == '=') {
                ++i;
                long v = number();
                if (selected < 13 && v >= 0 && v < 256)
                    FReg[selected] = static_cast<int>(v);
            } else if (i < body.size() && body[i] == '?') {
                ++i;
                Text(selected < 13 ? std::to_string(FReg[selected]) : "0");
            }
            break;
        }
        case 'Z':
            number();
            Reset();
            break;
        case '&':
            if (i < body.size() && Up7(body[i++]) == 'F')
                Reset();
            number();
            break;
        case 'H':
            number();
            FCallUp = false;
            if (FState == sOnlineCommand)
                FState = sCommand;
            break;
        case 'O':
            number();
            if (FCallUp && FState == sOnlineCommand) {
                FState = sOnline;
                FEscapeCount = 0;
                Result(1, "CONNECT");
            } else {
                Result(3, "NO CARRIER");
            }
            return;
        case 'A':
            Result(3, "NO CARRIER"); // nobody is calling
            return;
        case 'I':
            number();
            Text("56000");
            break;
        case '+':
            while (i < body.size() && body[i] != ';')
                ++i;
            if (i < body.size())
                ++i;
            break;
        default:
            number();
            break;
        }
    }
    Result(0, "OK");
}
