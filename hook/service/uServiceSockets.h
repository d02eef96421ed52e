#pragma once
// The service's two listening sockets. The control socket takes guard registrations:
//   "REGISTER <hook socket path>\n" -> "OK\n" or "ERR <reason>\n"
// and the registration lasts while that connection stays open. On the same connection,
//   "FORGET\n" -> "OK\n" (or "ERR not registered\n")
// drops every "not a dialer" answer the service remembers for that guard (the guard sends it when
// its database is reloaded or its options change), and "PING\n" -> "OK\n". The line feed publishes the modem
// lines and their call states (see uLineFeedProtocol.h) to every subscriber.
#include "platform/linux/uLineFeedProtocol.h"
#include "uGuardRegistry.h"
#include "uPollLoop.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// Creates a listening Unix stream socket at path with the given mode; -1 with why on failure.
int ListenUnix(const std::string& path, mode_t mode, std::string* why);

// A listening socket that the loop watches for connections; closed and its path removed on
// destruction.
class TUnixListener {
public:
    explicit TUnixListener(TPollLoop& loop) : FLoop(loop) {}
    ~TUnixListener();
    TUnixListener(const TUnixListener&) = delete;
    TUnixListener& operator=(const TUnixListener&) = delete;
    // Anyone may connect (mode 0666); onAccept gets each accepted connection (non-blocking).
    bool Listen(const std::string& path, std::function<void(int fd)> onAccept, std::string* why);
    // Called when accepting fails for want of descriptors or memory, before the listener rests.
    void SetOnShortage(std::function<void(int error)> onShortage) { FOnShortage = std::move(onShortage); }

private:
    void OnReadable();

    TPollLoop& FLoop;
    int FFd = -1;
    std::string FPath;
    std::function<void(int fd)> FOnAccept;
    std::function<void(int error)> FOnShortage;
    int FRestMs = 0; // while accepting fails: the listener is left alone this long, doubling
};

// How many control connections the service keeps. Each costs a descriptor, and every program
// start of the machine waits on the service: no one user may take them all.
struct TControlLimits {
    std::size_t PerUser = 16;
    std::size_t Total = 256;      // root's own connections are not counted against it
    int RegisterWithinMs = 10000; // a connection that has not registered by then is closed
};

class TControlServer {
public:
    TControlServer(TPollLoop& loop, TGuardRegistry& guards, std::function<void(const std::string&)> log,
                   TControlLimits limits = {});
    ~TControlServer();
    bool Listen(const std::string& path, std::string* why);
    std::size_t Connections() const { return FClients.size(); }

private:
    struct TClient {
        std::string In;
        std::vector<std::uint64_t> Registrations;
        pid_t Pid = 0;
        uid_t Uid = 0;
        std::uint64_t Deadline = 0; // the timer that closes it unless it registers
    };
    void OnAccept(int fd);
    void OnClient(int fd);
    std::string Handle(int fd, TClient& c, const std::string& line);
    void Drop(int fd);
    std::size_t UserRegistrations(uid_t uid) const;

    TPollLoop& FLoop;
    TGuardRegistry& FGuards;
    std::function<void(const std::string&)> FLog;
    TControlLimits FLimits;
    TUnixListener FListener{FLoop};
    std::map<int, TClient> FClients;
    std::map<uid_t, std::size_t> FPerUser;
    std::size_t FCounted = 0; // connections counted against the total
    std::int64_t FLastRefusalLog = -1;
};

// Checks a REGISTER path: absolute, short enough for a socket address, no control characters.
bool IsAcceptableGuardPath(const std::string& path, std::string* why);

class TLineFeed {
public:
    // current: the call in progress on each line (call 0 = none), sent to a subscriber on connecting.
    using TCurrentStates = std::function<std::vector<qm::TFeedCallState>()>;
    TLineFeed(TPollLoop& loop, TCurrentStates current);
    ~TLineFeed();
    bool Listen(const std::string& path, std::string* why);
    void SetLines(std::vector<qm::TFeedLine> lines) { FLines = std::move(lines); }
    void Publish(const qm::TFeedCallState& state);
    std::size_t Subscribers() const { return FClients.size(); }

private:
    void OnAccept(int fd);
    void Send(int fd, const std::string& text);
    void Drop(int fd);

    TPollLoop& FLoop;
    TCurrentStates FCurrent;
    TUnixListener FListener{FLoop};
    std::vector<qm::TFeedLine> FLines;
    std::map<int, std::string> FClients; // fd -> bytes not yet written
};
