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
